// "Service" → "Captures" in the running program against the simulator: the journal appears with
// the first capture of the chosen scale. The window's table is captures_window_test's.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <filesystem>

#include "capture/sqlite_journal.h"
#include "tests/support/program_driver.h"

namespace trv4::e2e {
namespace {

TEST(CapturesE2E, TheOperatorCapturesTheChosenScaleFromTheServiceMenu) {
  InProcessSession s({"--scales", "A-B", "--static", "--load", "A=12.5", "--load", "B=3"}, "11");
  ASSERT_EQ(s.failure(), "");
  const std::string journal = s.dir.file(kCaptureJournalFileName);
  ASSERT_TRUE(
      runEventsUntil([&] { return !s.program.app().monitor().panel(1).view.text.empty(); }, 20000));
  EXPECT_FALSE(std::filesystem::exists(journal)) << "made before the first capture";

  click(*menuEntry(s.program, "mCaptures"));
  QWidget* window = topLevelWindow("Captures");
  ASSERT_TRUE(window);
  auto* status = window->findChild<QLabel*>("StatusLbl");
  ASSERT_TRUE(s.program.app().oneUnit().selectScale("B"));
  window->findChild<QPushButton*>("CaptureCmd")->click();
  ASSERT_TRUE(runEventsUntil([&] { return status->text().startsWith("Capture "); }, 20000))
      << status->text().toStdString();
  EXPECT_EQ(status->text(), "Capture 1: scale B, 3.00 kg gross.");
  EXPECT_TRUE(std::filesystem::exists(journal));
}

}  // namespace
}  // namespace trv4::e2e
