// The settings dialog on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include "app/comm_settings_dialog.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

void runDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class CommSettingsDialogTest : public ::testing::Test {
 protected:
  CommSettingsDialogTest() {
    port.existingPorts = {1, 2};
    port.setSettings("600,N,8,1");
    port.setPortOpen(true);
  }
  ~CommSettingsDialogTest() override { delete dialog.data(); }

  void open() {
    dialog = new CommSettingsDialog(port, toolkit, [this] { ++saves; });
    dialog->show();
  }
  QRadioButton* option(const char* name) { return dialog->findChild<QRadioButton*>(name); }
  void press(const char* button) {
    dialog->findChild<QPushButton*>(button)->click();
    runDeferredDeletes();
  }

  test::VirtualToolkit toolkit;
  test::SimSerialPort port{toolkit};
  int saves = 0;
  QPointer<CommSettingsDialog> dialog;
};

TEST_F(CommSettingsDialogTest, ShowsTheModelAndForwardsClicks) {
  open();
  EXPECT_TRUE(option("Baud6")->isChecked());
  EXPECT_FALSE(option("Baud6")->isEnabled());
  option("Baud24")->click();
  option("Baud24")->click();  // clicking the marked option keeps it marked
  EXPECT_TRUE(option("Baud24")->isChecked());
  EXPECT_FALSE(option("Baud6")->isChecked());
  option("ComPort2")->click();
  option("EvenParity")->click();
  EXPECT_FALSE(option("NoParity")->isChecked());

  press("OKButton");
  EXPECT_TRUE(dialog.isNull());
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_EQ(port.settings(), "2400,E,8,1");
  EXPECT_EQ(saves, 1);
}

}  // namespace
}  // namespace trv4

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
