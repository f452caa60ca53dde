// The parameter window end to end, in real time: the program runs in this process against the
// simulator on a pseudo-terminal; the test opens "Parameters", edits a setpoint, downloads and
// uploads as an operator would and reads the frames the scales received.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/support/program_driver.h"
#include "tools/scalesim/scale_model.h"

namespace trv4::e2e {
namespace {

TEST(ParamsE2E, UploadDownloadAndUploadAgainReadBackWhatWasWritten) {
  InProcessSession s({"--scales", "A-C", "--static"}, "111");
  ASSERT_EQ(s.failure(), "");
  Application& app = s.program.app();
  ASSERT_TRUE(runEventsUntil([&] { return !app.monitor().panel(1).view.text.empty(); }, 20000));
  auto* address = s.program.window()->findChild<QComboBox*>("SingleScale");
  ASSERT_NE(address, nullptr);
  address->setCurrentText("B");

  ASSERT_TRUE(click(*menuEntry(s.program, "mParam")).empty()) << "a message during the upload";
  ASSERT_TRUE(runEventsUntil([&] { return app.param() && !app.param()->busy(); }, 30000));
  EXPECT_EQ(app.param()->value("vScaleAddr"), "B");
  EXPECT_EQ(app.param()->value("vSetp1"), "00000");
  QWidget* window = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "Param") window = w;
  }
  ASSERT_NE(window, nullptr);
  auto button = [&](const char* name) { return window->findChild<QPushButton*>(name); };

  window->findChild<QLineEdit*>("vSetp1")->setText("321");
  {
    ModalAnswerer answerer;
    button("Command4")->click();  // download operational parameters
    button("Command3")->click();  // download weight parameters
    EXPECT_TRUE(answerer.boxes().empty()) << answerer.boxes().front().text.toStdString();
  }
  std::vector<std::string> writes;
  const auto frames = received(s.sim.log());
  for (const auto& e : frames) {
    const std::string body = e.bytes.substr(1, e.bytes.size() - 4);
    if (body[0] == 'B' && body.size() > 2 && std::isupper(static_cast<unsigned char>(body[1]))) {
      writes.push_back(body.substr(1, 2));
    }
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"Q1", "Q2", "S2", "S1", "P2", "P3", "P1"}));
  EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const auto& e) {
    return e.bytes == scalesim::makeFrame('B', "Q100321");
  }));

  window->findChild<QLineEdit*>("vSetp1")->setText("9");
  button("Command2")->click();  // upload again
  EXPECT_EQ(app.param()->value("vSetp1"), "00321");
}

}  // namespace
}  // namespace trv4::e2e
