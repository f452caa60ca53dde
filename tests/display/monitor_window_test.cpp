// The Qt side on the offscreen platform: code-page conversion and the monitor window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <memory>
#include <string>

#include "base/widget_text.h"
#include "display/monitor_window.h"

namespace trv4 {
namespace {

TEST(CodePage, GreekTextRoundTripsAndUndefinedBytesShowAsReplacements) {
  // "Ζύγιση €" in Windows-1253, a zero byte, and 0xAA, which the code page leaves undefined.
  const std::string bytes("\xC6\xFD\xE3\xE9\xF3\xE7 \x80\0\xAA", 10);
  const QString text = fromCodePage(bytes);
  EXPECT_EQ(text, QString::fromUtf8("Ζύγιση €") + QChar(0) + QChar(0xFFFD));
  EXPECT_EQ(toCodePage(text), bytes.substr(0, 9) + "?");
}

TEST(MonitorWindow, ShowsTheModelAsPlainTextAndForwardsDoubleClicks) {
  LinkState state;
  DisplaySettings settings;
  MonitorModel model(state, settings, [] {});
  model.load();
  auto window = std::make_unique<MonitorWindow>(model);
  EXPECT_FALSE(window->addressLabel(28)->isEnabled());  // not polled after start-up

  model.DispWeight(28, std::string("\x01") + "<u>\xC1\xC2 ");
  EXPECT_EQ(window->weightLabel(28)->text(), QString::fromUtf8("<u>ΑΒ "));
  EXPECT_EQ(window->weightLabel(28)->textFormat(), Qt::PlainText);
  model.DispWeight(28, std::string("\x02") + "012.34");
  EXPECT_FALSE(window->netLabel(28)->isHidden());

  QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window->weightLabel(28), &click);
  EXPECT_EQ(state.ScanList[28], 1);
  EXPECT_TRUE(window->addressLabel(28)->isEnabled());
  window.reset();
  model.blankPanel(28);  // the model outlives the window and must not call into it
}

}  // namespace
}  // namespace trv4
