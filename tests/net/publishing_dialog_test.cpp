// The "Publishing" dialog on Qt's offscreen platform: it shows the file, writes what OK takes,
// and nothing when a value is refused or the dialog is left.
#include "net/publishing_dialog.h"

#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <filesystem>
#include <tuple>

#include "tests/support/file_text.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

struct PublishingDialogTest : ::testing::Test {
  ~PublishingDialogTest() override { delete dialog; }
  PublishingDialog* open() {
    dialog = new PublishingDialog(path.string(), tk, [this] { ++restarts; });
    dialog->show();
    return dialog;
  }
  template <typename W>
  W* find(const char* name) {
    W* w = dialog->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  const ScratchFolder scratch{"trv4-pubdialog-"};
  const std::filesystem::path path = scratch.folder / kNetSettingsFileName;
  VirtualToolkit tk;
  QPointer<PublishingDialog> dialog;
  int restarts = 0;
};

TEST_F(PublishingDialogTest, OpensWithTheFileAndOkWritesItAndRestartsPublishing) {
  NetSettings s;
  s.mqtt = {true, "broker.plant", 8883, "line7", "", "op", "pw", "", 2, 30, false};
  s.modbus = {true, "0.0.0.0", 502};
  s.http = {true, "::1", 8081, "0123456789abcdef", true, {"pc-1", "pc-2"}};
  s.captures.keepDays = 90;  // no input of its own: written back as read
  std::string error;
  ASSERT_TRUE(writeNetSettings(path.string(), s, &error));
  open();
  EXPECT_EQ(formatNetSettings(dialog->entered()), formatNetSettings(s));
  for (const char* secret : {"mqttPassword", "httpToken"})
    EXPECT_EQ(find<QLineEdit>(secret)->echoMode(), QLineEdit::Password) << secret;
  // Every input is reached through its caption and has a name for assistive technology.
  QList<QWidget*> captioned;
  for (const QLabel* label : dialog->findChildren<QLabel*>()) captioned.append(label->buddy());
  const auto field = [](const QWidget* w) {
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QComboBox*>(w);
  };
  for (QWidget* input : dialog->findChildren<QWidget*>()) {
    // Not the inner line edit of a combo or spin box.
    const bool own = field(input) && !field(input->parentWidget());
    EXPECT_TRUE(!own || (captioned.contains(input) && !input->accessibleName().isEmpty()))
        << input->objectName().toStdString();
  }

  find<QLineEdit>("mqttHost")->setText("10.0.0.9");
  find<QCheckBox>("mqttCommands")->setChecked(true);
  find<QSpinBox>("modbusPort")->setValue(1502);
  find<QPushButton>("ok")->click();
  EXPECT_TRUE(tk.messages.empty());
  EXPECT_EQ(restarts, 1);
  EXPECT_TRUE(dialog.isNull() || !dialog->isVisible());
  s.mqtt.host = "10.0.0.9";
  s.mqtt.commands = true;
  s.modbus.port = 1502;
  EXPECT_EQ(fileText(path.string()), formatNetSettings(s));
}

// The settings rule a value; the dialog names the field, keeps the focus there, writes nothing.
TEST_F(PublishingDialogTest, ARefusedValueNamesItsFieldAndEscapeWritesNothing) {
  open();  // no file: the defaults
  EXPECT_EQ(formatNetSettings(dialog->entered()), formatNetSettings(NetSettings{}));
  const struct {
    const char *input, *value, *section, *key, *told;
  } refused[] = {
      {"mqttPrefix", "plant/#", "mqtt", "prefix",
       "Topic prefix: the value must be a topic level without the wildcards + and #. Nothing was "
       "written."},
      {"mqttPassword", "top ;secret", "mqtt", "password",
       "Password: the file can not hold this value. It may not begin or end with a blank, span "
       "lines, or have a \";\" after a blank. Nothing was written."},
  };
  for (const auto& [input, value, section, key, told] : refused) {
    auto* edit = find<QLineEdit>(input);
    const QString before = edit->text();
    edit->setText(QString::fromUtf8(value));
    EXPECT_EQ(dialog->refusal().key, netSettingKey(section, key)) << input;
    tk.messages.clear();
    find<QPushButton>("ok")->click();
    EXPECT_EQ(tk.messages, std::vector<std::string>{told});
    EXPECT_TRUE(dialog->isVisible() && dialog->focusWidget() == edit) << input;
    edit->setText(before);
  }

  find<QCheckBox>("modbusEnabled")->setChecked(true);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(find<QSpinBox>("modbusPort"), &escape);
  EXPECT_TRUE(dialog.isNull() || !dialog->isVisible());
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(restarts, 0);
}

// A bind name is looked up as the server looks it up, while the dialog stays live.
TEST_F(PublishingDialogTest, BindNamesAreLookedUpBeforeTheFileIsWritten) {
  open();
  find<QCheckBox>("modbusEnabled")->setChecked(true);
  find<QCheckBox>("httpEnabled")->setChecked(true);
  find<QLineEdit>("modbusBind")->setText("no-such-host.invalid");
  find<QLineEdit>("httpBind")->setText("localhost");
  find<QPushButton>("ok")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tk.messages.empty(); }));
  EXPECT_TRUE(tk.messages[0].starts_with("Bind address: no-such-host.invalid is no address"))
      << tk.messages[0];
  EXPECT_TRUE(dialog->isVisible() && find<QPushButton>("ok")->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(path));

  tk.messages.clear();
  find<QLineEdit>("modbusBind")->setText("localhost");
  find<QPushButton>("ok")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull() || !dialog->isVisible(); }));
  EXPECT_TRUE(tk.messages.empty());
  EXPECT_EQ(restarts, 1);
  const NetSettings written = readNetSettings(path.string());
  EXPECT_EQ(std::tuple(written.modbus.bind, written.http.bind),
            std::tuple("localhost", "localhost"));
}

TEST_F(PublishingDialogTest, NewTokenDrawsAFreshRandomToken) {
  open();
  auto* token = find<QLineEdit>("httpToken");
  find<QPushButton>("httpNewToken")->click();
  const QString drawn = token->text();
  EXPECT_EQ(drawn.size(), 48);
  EXPECT_EQ(dialog->refusal().key, nullptr);
  find<QPushButton>("httpNewToken")->click();
  EXPECT_NE(token->text(), drawn);
}

}  // namespace
}  // namespace trv4::test
