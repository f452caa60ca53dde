// The "Captures" window on Qt's offscreen platform, on a desk in virtual time: the Capture
// button, its result in the status line, the table newest first, and a window closed while its
// capture waits.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <memory>
#include <string>

#include "capture/captures_window.h"
#include "tests/support/desk_on_monitor.h"
#include "tests/support/mqtt_broker.h"

namespace trv4::test {
namespace {

struct CapturesWindowTest : ::testing::Test, DeskOnMonitor {
  CapturesWindowTest() : DeskOnMonitor([this](int i) { return polled || i == 0; }) {
    window = std::make_unique<CapturesWindow>(
        desk, [this] { return selection; }, nullptr);
  }
  QPushButton* button() const { return window->findChild<QPushButton*>("CaptureCmd"); }
  QString status() const { return window->findChild<QLabel*>("StatusLbl")->text(); }
  QTableWidget* table() const { return window->findChild<QTableWidget*>("CaptureTable"); }
  QString cell(int row, int col) const {
    const QTableWidgetItem* item = table()->item(row, col);
    return item ? item->text() : QString();
  }
  void settledReply(int scale) { settled(scale, "012.34"); }
  // Clicks Capture and lets scale i answer three times.
  void captureWith(const std::string& address) {
    selection = address;
    button()->click();
    for (int n = 0; n < 3; ++n) settledReply(address[0] - 'A');
    tk.advance(5);
  }

  bool polled = true;
  std::string selection = "@";
  std::unique_ptr<CapturesWindow> window;
};

TEST_F(CapturesWindowTest, CapturesTheChosenScaleAndShowsTheOutcomeInItsStatusLine) {
  button()->click();
  EXPECT_EQ(status(), "Choose one scale in the single-scale window: \"@\" is every scale.");
  EXPECT_EQ(desk.waiting(), 0u);

  selection = "B";
  button()->click();
  EXPECT_EQ(status(), "Capturing scale B …");
  EXPECT_FALSE(button()->isEnabled());
  for (int n = 0; n < 3; ++n) settledReply(1);
  tk.advance(5);
  EXPECT_EQ(status(), "Capture 1: scale B, 12.34 kg gross.");
  EXPECT_TRUE(button()->isEnabled());

  captureWith("A");
  ASSERT_EQ(table()->rowCount(), 2);
  EXPECT_EQ(cell(0, 0), "2");
  EXPECT_EQ(cell(0, 2), "A");
  EXPECT_EQ(cell(0, 3), "12.34 kg");
  EXPECT_EQ(cell(0, 4), "gross");
  EXPECT_EQ(cell(0, 5), "operator");
  EXPECT_EQ(cell(0, 6), "no");
  EXPECT_EQ(cell(1, 0), "1");
  EXPECT_EQ(window->findChild<QLabel*>("WaitingLbl")->text(), "2 waiting for delivery");

  // Delivery is noticed within a second, without a new capture.
  desk.markDelivered(1);
  EXPECT_TRUE(pumpUntil([&] { return cell(1, 6) == "yes"; }, 3000));
  EXPECT_EQ(window->findChild<QLabel*>("WaitingLbl")->text(), "1 waiting for delivery");

  polled = false;
  selection = "C";
  button()->click();
  tk.advance(5);
  EXPECT_EQ(status(), "Scale C is not polled.");
  EXPECT_EQ(table()->rowCount(), 2);
}

TEST_F(CapturesWindowTest, AWindowClosedWhileItsCaptureWaitsIsNotToldAndTheCaptureStillCounts) {
  selection = "A";
  button()->click();
  window.reset();
  for (int n = 0; n < 3; ++n) settledReply(0);
  tk.advance(5);
  EXPECT_EQ(journal.rows.size(), 1u);
}

}  // namespace
}  // namespace trv4::test
