// Publishing restarted from its dialog while the program polls the simulator in real time, with a
// broker that takes the connection and never answers: the polling goes on meanwhile.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <chrono>
#include <vector>

#include "link/line_observer.h"
#include "net/publishing_dialog.h"
#include "tests/support/program_driver.h"

namespace trv4::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// When each request left, on the test's clock.
struct RequestTimes : LineObserver {
  void sent(int, bool, std::string_view) override { at.push_back(Clock::now()); }
  void received(int, RxKind, std::string_view) override {}
  void timedOut(int, std::string_view) override {}
  Clock::duration largestGap(Clock::time_point from) const {
    Clock::duration gap{};
    for (std::size_t i = 1; i < at.size(); ++i)
      if (at[i - 1] >= from) gap = std::max(gap, at[i] - at[i - 1]);
    return gap;
  }
  std::vector<Clock::time_point> at;
};

TEST(PublishingRestartE2E, RestartingPublishingNeverHoldsUpThePolling) {
  // Takes the connections and never reads or answers them.
  QTcpServer broker;
  ASSERT_TRUE(broker.listen(QHostAddress::LocalHost));
  InProcessSession s({"--scales", "A-C", "--static"}, "111");
  ASSERT_EQ(s.failure(), "");
  RequestTimes requests;
  s.program.app().link()->addObserver(requests);
  ASSERT_TRUE(runEventsUntil([&] { return requests.at.size() > 20; }, 10000));

  // OK in the Publishing dialog, each time just as the connection before has reached a broker
  // that never answers.
  const Clock::time_point from = Clock::now();
  for (int round = 0; round < 3; ++round) {
    click(*menuEntry(s.program, "mPublishing"));
    PublishingDialog* dialog = nullptr;
    for (auto* d : s.program.window()->findChildren<PublishingDialog*>())
      if (d->isVisible()) dialog = d;
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QCheckBox*>("mqttEnabled")->setChecked(true);
    dialog->findChild<QLineEdit*>("mqttHost")->setText(QStringLiteral("127.0.0.1"));
    dialog->findChild<QSpinBox*>("mqttPort")->setValue(broker.serverPort());
    dialog->findChild<QCheckBox*>("modbusEnabled")->setChecked(false);
    dialog->findChild<QPushButton*>("ok")->click();
    ASSERT_TRUE(runEventsUntil([&] { return broker.nextPendingConnection() != nullptr; }, 10000))
        << "round " << round;
  }
  runEvents(0.5);
  s.program.app().link()->removeObserver(requests);

  const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(requests.largestGap(from));
  // Requests follow each other within tens of milliseconds here; a wait for the network on the
  // user-interface thread would leave a gap of up to a second.
  EXPECT_LT(gap.count(), 600);
}

}  // namespace
}  // namespace trv4::e2e
