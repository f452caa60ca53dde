// The calibration window end to end, in real time: the program runs in this process against the
// simulator on a pseudo-terminal; an operator types into the window and clicks its buttons, and
// the test reads the frames the scale received and the weights it reports afterwards.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <string>
#include <vector>

#include "tests/support/program_driver.h"

namespace trv4::e2e {
namespace {

// Acts on the calibration window every 20 ms: when Start shows, types the answer key by key into
// the box and clicks Start, once. The act is queued, not done in the timer's own pass: a timer
// that fires in the pass in which a message box is closed would click Start before the procedure
// waits for it again, and the click would be lost for good.
class Operator {
 public:
  explicit Operator(QString answer) : answer_(std::move(answer)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (!queued_)
        QMetaObject::invokeMethod(
            &timer_, [this] { act(); }, Qt::QueuedConnection);
      queued_ = true;
    });
    timer_.start(20);
  }

 private:
  void act() {
    queued_ = false;
    QWidget* w = topLevelWindow("Calib", false);
    if (!w || !w->isVisible() || done_ || QApplication::activeModalWidget()) return;
    auto* start = w->findChild<QToolButton*>("StartCmd");
    if (!start->isVisible()) return;
    done_ = true;
    auto* box = w->findChild<QLineEdit*>("AskTxt");
    box->clear();
    for (QChar c : answer_) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(box, &press);
    }
    start->click();
  }
  QTimer timer_;
  bool queued_ = false, done_ = false;
  QString answer_;
};

// Bodies of the calibration commands scale B received, in order.
std::vector<std::string> calibrationFrames(scalesim::Simulator& sim) {
  std::vector<std::string> bodies;
  for (const auto& e : received(sim.log())) {  // STX, address, body, block check, ETX
    if (e.bytes[1] == 'B' && std::string("abcABC").find(e.bytes[2]) != std::string::npos)
      bodies.push_back(e.bytes.substr(2, e.bytes.size() - 5));
  }
  return bodies;
}

// Closing the window while the scale works is taken as Stop, and the key filter refuses a point,
// in the window tests; here the real program, line and event loop.
TEST(CalibE2E, SpanCalibrationChangesTheWeightTheScaleReportsAndExitEndsAnOperatorWait) {
  InProcessSession s({"--scales", "A-C", "--static", "--load", "B=20"}, "111");
  ASSERT_EQ(s.failure(), "");
  Application& app = s.program.app();
  auto weightB = [&] { return app.monitor().panel(1).view.text; };
  ASSERT_TRUE(runEventsUntil([&] { return !weightB().empty(); }, 20000));
  s.program.window()->findChild<QComboBox*>("SingleScale")->setCurrentText("B");
  {
    Operator op("2500");
    EXPECT_TRUE(click(*menuEntry(s.program, "mWSpan")).empty());
  }
  EXPECT_EQ(calibrationFrames(s.sim), std::vector<std::string>{"b02500"});
  EXPECT_FALSE(topLevelWindow("Calib", false)->isVisible());
  // The 20 kg load now reads as the 2500 keyed in, as the display shows it. Waited for as such:
  // the scale's working text, or a reply filed before the step, shows meanwhile.
  EXPECT_TRUE(runEventsUntil([&] { return weightB() == "25.00 kg"; }, 20000))
      << "now " << weightB();

  // "Exit" while the electronic zero calibration waits for its number: the procedure ends and the
  // menu click returns, so the program's event loop can end.
  QTimer::singleShot(300, [&] { menuEntry(s.program, "mExit")->trigger(); });
  EXPECT_TRUE(click(*menuEntry(s.program, "mEZero")).empty());
  EXPECT_FALSE(app.calib().running());
  EXPECT_EQ(calibrationFrames(s.sim), std::vector<std::string>{"b02500"});
}

}  // namespace
}  // namespace trv4::e2e
