// The "Captures" window on Qt's offscreen platform, on a desk in virtual time.
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
  CapturesWindowTest() {
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
  // A row's cells but the time (local), joined by "|".
  std::string row(int r) const {
    QStringList out;
    for (int col = 0; col < table()->columnCount(); ++col)
      if (col != 1) out << cell(r, col);
    return out.join('|').toStdString();
  }
  // Scale i answers three times, settled.
  void settledReplies(int scale) {
    for (int n = 0; n < 3; ++n) settled(scale, "012.34");
    tk.advance(5);
  }

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
  settledReplies(1);
  EXPECT_EQ(status(), "Capture 1: scale B, 12.34 kg gross.");
  EXPECT_TRUE(button()->isEnabled());

  selection = "A";
  button()->click();
  settledReplies(0);
  ASSERT_EQ(table()->rowCount(), 2);
  EXPECT_EQ(row(0), "2|A|12.34 kg|gross|operator|no");

  // Delivery is noticed within a second, without a new capture.
  desk.markDelivered(1);
  EXPECT_TRUE(pumpUntil([&] { return cell(1, 6) == "yes"; }, 3000));
  EXPECT_EQ(window->findChild<QLabel*>("WaitingLbl")->text(), "1 waiting for delivery");
}

TEST_F(CapturesWindowTest, AWindowClosedWhileItsCaptureWaitsIsNotToldAndTheCaptureStillCounts) {
  selection = "A";
  button()->click();
  window.reset();
  settledReplies(0);
  EXPECT_EQ(journal.rows.size(), 1u);
}

}  // namespace
}  // namespace trv4::test
