// The parameter window end to end, in real time: the program runs in this process against the
// simulator on a pseudo-terminal; the test opens "Parameters", edits a setpoint, downloads and
// uploads as an operator would and reads the frames the scales received.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <cctype>
#include <string>
#include <vector>

#include "tests/support/program_driver.h"

namespace trv4::e2e {
namespace {

TEST(ParamsE2E, UploadDownloadAndUploadAgainReadBackWhatWasWritten) {
  InProcessSession s({"--scales", "A-C", "--static"}, "111");
  ASSERT_EQ(s.failure(), "");
  Application& app = s.program.app();
  ASSERT_TRUE(runEventsUntil([&] { return !app.monitor().panel(1).view.text.empty(); }, 20000));
  s.program.window()->findChild<QComboBox*>("SingleScale")->setCurrentText("B");

  ASSERT_TRUE(click(*menuEntry(s.program, "mParam")).empty()) << "a message during the upload";
  ASSERT_TRUE(runEventsUntil([&] { return app.param() && !app.param()->busy(); }, 30000));
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
  // The writes of the two downloads as the scale received them, setpoint 1 with its value.
  std::vector<std::string> writes;
  for (const auto& e : received(s.sim.log())) {
    if (e.bytes[1] == 'B' && std::isupper(static_cast<unsigned char>(e.bytes[2])))
      writes.push_back(e.bytes.substr(2, e.bytes.substr(2, 2) == "Q1" ? 7 : 2));
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"Q100321", "Q2", "S2", "S1", "P2", "P3", "P1"}));

  window->findChild<QLineEdit*>("vSetp1")->setText("9");
  button("Command2")->click();  // upload again
  EXPECT_EQ(app.param()->value("vSetp1"), "00321");
}

}  // namespace
}  // namespace trv4::e2e
