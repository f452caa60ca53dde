#include "display/monitor_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <memory>

#include "app/twips.h"

namespace trv4 {
namespace {

TEST(MonitorWindow, ShowsTheModelAndForwardsDoubleClicks) {
  LinkState state;
  DisplaySettings settings;
  int saves = 0;
  MonitorModel model(state, settings, [&] { ++saves; });
  model.load();
  auto window = std::make_unique<MonitorWindow>(model);

  // Row 9 holds "\", "]" and "^"; panel 28 sits in the middle column.
  EXPECT_EQ(window->addressLabel(28)->text(), "]");
  EXPECT_EQ(window->weightLabel(28)->geometry().topLeft(),
            QPoint(twips(3000 + 480), twips(9 * 720 + 120)));
  EXPECT_FALSE(window->addressLabel(28)->isEnabled());  // not polled after start-up

  // Text from the line is shown as plain text in its code page.
  model.DispWeight(28, std::string("\x01") + "<u>\xC1\xC2 ");
  EXPECT_EQ(window->weightLabel(28)->text(), QString::fromUtf8("<u>ΑΒ "));
  EXPECT_EQ(window->weightLabel(28)->textFormat(), Qt::PlainText);

  model.DispWeight(28, std::string("\x02") + "012.34");
  EXPECT_EQ(window->weightLabel(28)->text(), "12.34 kg");
  EXPECT_FALSE(window->netLabel(28)->isHidden());
  EXPECT_FALSE(window->motionLabel(28)->isHidden());

  QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window->weightLabel(28), &click);
  EXPECT_EQ(state.ScanList[28], 1);
  EXPECT_EQ(saves, 1);
  EXPECT_TRUE(window->addressLabel(28)->isEnabled());

  // The model outlives the window and must not call into it afterwards.
  window.reset();
  model.blankPanel(28);
}

}  // namespace
}  // namespace trv4

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
