// The settings dialog on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QRadioButton>

#include "app/comm_settings_dialog.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

TEST(CommSettingsDialog, ShowsTheModelAndEscapeChangesNothing) {
  test::VirtualToolkit toolkit;
  test::SimSerialPort port{toolkit};
  port.setSettings("600,N,8,1");
  int saves = 0;
  QPointer<CommSettingsDialog> dialog = new CommSettingsDialog(port, toolkit, [&] { ++saves; });
  dialog->show();
  auto option = [&](const char* name) { return dialog->findChild<QRadioButton*>(name); };
  EXPECT_TRUE(option("Baud6")->isChecked());  // 600 is shown but cannot be chosen
  EXPECT_FALSE(option("Baud6")->isEnabled());
  option("Baud24")->click();
  option("ComPort2")->click();
  EXPECT_FALSE(option("Baud6")->isChecked());

  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dialog, &escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(dialog.isNull());
  EXPECT_EQ(port.commPort(), 1);
  EXPECT_EQ(port.settings(), "600,N,8,1");
  EXPECT_EQ(saves, 0);
}

}  // namespace
}  // namespace trv4

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
