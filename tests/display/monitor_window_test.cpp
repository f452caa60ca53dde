// The monitor window on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "display/cached_label.h"
#include "display/monitor_window.h"

namespace trv4 {
namespace {

struct MonitorWindowTest : ::testing::Test {
  MonitorWindowTest() { model.load(); }
  void doubleClick(QWidget* label, int at) {
    QMouseEvent e(QEvent::MouseButtonDblClick, QPointF(at, at), QPointF(at, at), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(label, &e);
  }
  LinkState state;
  DisplaySettings settings;
  MonitorModel model{state, settings, [] {}};
};

TEST_F(MonitorWindowTest, ShowsTheModelAsPlainTextAndForwardsDoubleClicks) {
  auto window = std::make_unique<MonitorWindow>(model);
  EXPECT_FALSE(window->addressLabel(28)->isEnabled());  // not polled after start-up

  model.DispWeight(28, std::string("\x01") + "<u>\xC1\xC2 ");
  EXPECT_EQ(window->weightLabel(28)->text(), QString::fromUtf8("<u>ΑΒ "));
  EXPECT_EQ(window->weightLabel(28)->textFormat(), Qt::PlainText);
  model.DispWeight(28, std::string("\x02") + "012.34");
  EXPECT_FALSE(window->netLabel(28)->isHidden());

  doubleClick(window->weightLabel(28), 5);
  EXPECT_EQ(state.ScanList[28], 1);
  EXPECT_TRUE(window->addressLabel(28)->isEnabled());
  // The net indicator lies on the weight display: a double click on it is its own.
  doubleClick(window->netLabel(28), 2);
  EXPECT_EQ(state.ScanList[28], 1);
  window.reset();
  model.blankPanel(28);  // the model outlives the window and must not call into it
}

// What the label shows now, drawn from its cache and laid out afresh, alike but for the rounding
// of a smoothed edge laid over the window's ground: no colour channel differs by more than one.
void expectDrawnAsLaidOut(QLabel* label, const char* when) {
  auto* cached = dynamic_cast<CachedLabel*>(label);
  ASSERT_NE(cached, nullptr);
  const QImage fromCache = cached->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  cached->setCaching(false);
  const QImage laidOut = cached->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  cached->setCaching(true);
  ASSERT_EQ(fromCache.size(), laidOut.size());
  int largest = 0;
  for (qsizetype i = 0; i < fromCache.sizeInBytes(); ++i)
    largest = std::max(largest, std::abs(fromCache.constBits()[i] - laidOut.constBits()[i]));
  EXPECT_LE(largest, 1) << label->objectName().toStdString() << " " << when;
}

TEST_F(MonitorWindowTest, APanelWhoseTextDidNotChangeIsNotLaidOutAgainWhileTheHighlightMoves) {
  state.ScanList[0] = 1;
  MonitorWindow window(model);
  window.show();
  model.DispWeight(0, std::string("\x01") + "012.34");
  auto* weight = dynamic_cast<CachedLabel*>(window.weightLabel(0));
  auto* address = dynamic_cast<CachedLabel*>(window.addressLabel(0));
  ASSERT_TRUE(weight && address);
  (void)window.grab();
  const int weightLayouts = weight->layouts(), addressLayouts = address->layouts();

  // Scan steps light A and put it out again.
  QImage looks[2];
  for (int step = 0; step < 4; ++step) {
    model.setAddressHighlight(0, step % 2 == 0);
    (void)window.grab();
    looks[step % 2] = address->grab().toImage();
    expectDrawnAsLaidOut(address, step % 2 ? "not highlighted" : "highlighted");
  }
  EXPECT_NE(looks[0], looks[1]) << "the highlight shows";
  EXPECT_EQ(weight->layouts(), weightLayouts) << "the weight did not change";
  EXPECT_LE(address->layouts(), addressLayouts + 2) << "one layout per look, then the cache";

  // A new weight is laid out once; every kind of label is drawn as a plain label would draw it.
  model.DispWeight(0, std::string("\x01") + "013.00");
  model.DispWeight(1, std::string("\x02") + "007.25");
  (void)window.grab();
  EXPECT_EQ(weight->layouts(), weightLayouts + 1);
  for (QLabel* label : {window.weightLabel(0), window.weightLabel(1), window.netLabel(1),
                        window.motionLabel(1), window.addressLabel(1)})
    expectDrawnAsLaidOut(label, "of every kind");
}

}  // namespace
}  // namespace trv4
