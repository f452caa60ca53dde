// The settings dialog and the about box on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include "app/about_box.h"
#include "app/app_icon.h"
#include "app/comm_settings_dialog.h"
#include "app/twips.h"
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
    dialog = new CommSettingsDialog(port, toolkit, [this] { ++saves; });
    dialog->show();
  }
  ~CommSettingsDialogTest() override {
    delete dialog.data();
    runDeferredDeletes();
  }

  template <typename T>
  T* child(const char* name) {
    return dialog->findChild<T*>(QString::fromLatin1(name));
  }

  test::VirtualToolkit toolkit;
  test::SimSerialPort port{toolkit};
  int saves = 0;
  QPointer<CommSettingsDialog> dialog;
};

TEST_F(CommSettingsDialogTest, IsLaidOutAsDrawn) {
  EXPECT_EQ(dialog->windowTitle(), "Communication Settings");
  EXPECT_FALSE(dialog->isModal());
  EXPECT_EQ(dialog->size(), QSize(twips(5325), twips(3735)));
  QGroupBox* flow = child<QGroupBox>("Frame5");
  ASSERT_NE(flow, nullptr);
  EXPECT_EQ(flow->title(), "&Flow Control");
  EXPECT_EQ(flow->geometry(), QRect(twips(3840), twips(1680), twips(1335), twips(1935)));
  QRadioButton* both = child<QRadioButton>("BothFlow");
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(both->parent(), flow);
  EXPECT_EQ(both->pos(), QPoint(twips(120), twips(1440)));
  EXPECT_EQ(both->text(), "Xon/RTS");
  EXPECT_EQ(dialog->findChildren<QRadioButton*>().size(), 24);
  QPushButton* ok = child<QPushButton>("OKButton");
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
}

TEST_F(CommSettingsDialogTest, ShowsTheModelAndForwardsClicks) {
  QRadioButton* baud600 = child<QRadioButton>("Baud6");
  QRadioButton* baud1200 = child<QRadioButton>("Baud12");
  QRadioButton* baud2400 = child<QRadioButton>("Baud24");
  ASSERT_TRUE(baud600 && baud1200 && baud2400);
  EXPECT_TRUE(baud600->isChecked());
  EXPECT_FALSE(baud600->isEnabled());
  EXPECT_FALSE(baud1200->isEnabled());

  baud2400->click();
  EXPECT_TRUE(baud2400->isChecked());
  EXPECT_FALSE(baud600->isChecked());
  baud2400->click();  // clicking the marked option keeps it marked
  EXPECT_TRUE(baud2400->isChecked());

  child<QRadioButton>("ComPort2")->click();
  child<QRadioButton>("EvenParity")->click();
  EXPECT_FALSE(child<QRadioButton>("NoParity")->isChecked());
  child<QPushButton>("OKButton")->click();
  runDeferredDeletes();
  EXPECT_TRUE(dialog.isNull());  // OK closes and unloads it
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_EQ(port.settings(), "2400,E,8,1");
  EXPECT_EQ(saves, 1);
}

TEST_F(CommSettingsDialogTest, EscapeAndCancelChangeNothing) {
  child<QRadioButton>("ComPort2")->click();
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dialog, &escape);
  runDeferredDeletes();
  EXPECT_TRUE(dialog.isNull());

  dialog = new CommSettingsDialog(port, toolkit, [this] { ++saves; });
  child<QRadioButton>("ComPort2")->click();
  child<QPushButton>("CancelButton")->click();
  runDeferredDeletes();
  EXPECT_TRUE(dialog.isNull());

  EXPECT_EQ(port.commPort(), 1);
  EXPECT_EQ(port.settings(), "600,N,8,1");
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(saves, 0);
}

TEST(AboutBoxTest, ShowsNameAndMakerAndClosesWithOk) {
  QPointer<AboutBox> about = new AboutBox;
  about->show();
  EXPECT_EQ(about->windowTitle(), "About TRV-4");
  EXPECT_FALSE(about->isModal());
  EXPECT_EQ(about->size(), QSize(twips(3615), twips(1260)));
  auto* name = about->findChild<QLabel*>("Label2");
  auto* maker = about->findChild<QLabel*>("Label1");
  auto* image = about->findChild<QLabel*>("Image1");
  ASSERT_TRUE(name && maker && image);
  EXPECT_EQ(name->text(), "TRV-4");
  EXPECT_TRUE(name->font().bold());
  EXPECT_EQ(maker->text(), "Dravmet Gmbh");
  EXPECT_TRUE(maker->font().italic());
  EXPECT_EQ(maker->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_FALSE(image->pixmap().isNull());

  about->findChild<QPushButton*>("Command1")->click();
  runDeferredDeletes();
  EXPECT_TRUE(about.isNull());
}

TEST(AppIconTest, OffersSeveralSizesWithBlueLinesOnTransparency) {
  const QIcon icon = appIcon();
  for (int size : {16, 32, 64, 128}) {
    EXPECT_EQ(icon.pixmap(size, size).size(), QSize(size, size)) << size;
  }
  const QImage image = icon.pixmap(32, 32).toImage();
  int blue = 0;
  int transparent = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() == 0) ++transparent;
      if (c.alpha() > 200 && c.blue() > 200 && c.red() < 80 && c.green() < 80) ++blue;
    }
  }
  EXPECT_GT(blue, 4);
  EXPECT_GT(transparent, 100);
}

}  // namespace
}  // namespace trv4

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
