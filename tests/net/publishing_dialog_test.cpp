// The "Publishing" dialog on Qt's offscreen platform: it shows the file, writes what OK takes,
// and writes nothing when a value is refused or the dialog is left.
#include "net/publishing_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <filesystem>
#include <functional>
#include <map>

#include "tests/support/file_text.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

bool waitFor(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

struct DialogRig {
  ~DialogRig() { delete dialog; }
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
  std::string file() const { return fileText(path.string()); }

  const ScratchFolder scratch{"trv4-pubdialog-"};
  const std::filesystem::path path = scratch.folder / kNetSettingsFileName;
  VirtualToolkit tk;
  QPointer<PublishingDialog> dialog;
  int restarts = 0;
};

TEST(PublishingDialog, OpensWithTheFileAndOkWritesItAndRestartsPublishing) {
  DialogRig rig;
  NetSettings s;
  s.mqtt = {true, "broker.plant", 8883, "line7", "", "op", "pw", "", 2, 30, false};
  s.modbus = {true, "0.0.0.0", 502};
  std::string error;
  ASSERT_TRUE(writeNetSettings(rig.path.string(), s, &error));
  rig.open();
  EXPECT_TRUE(rig.find<QCheckBox>("mqttEnabled")->isChecked());
  EXPECT_EQ(rig.find<QLineEdit>("mqttHost")->text(), "broker.plant");
  EXPECT_EQ(rig.find<QSpinBox>("mqttPort")->value(), 8883);
  EXPECT_EQ(rig.find<QComboBox>("mqttQos")->currentIndex(), 2);
  EXPECT_EQ(rig.find<QLineEdit>("mqttPassword")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(rig.find<QLineEdit>("modbusBind")->text(), "0.0.0.0");
  EXPECT_EQ(rig.find<QSpinBox>("modbusPort")->value(), 502);
  // Every input is reached through its caption and has a name for assistive technology.
  for (QWidget* input : rig.dialog->findChildren<QWidget*>()) {
    if (!qobject_cast<QLineEdit*>(input) && !qobject_cast<QAbstractSpinBox*>(input) &&
        !qobject_cast<QComboBox*>(input))
      continue;
    if (qobject_cast<QComboBox*>(input->parentWidget()) ||
        qobject_cast<QAbstractSpinBox*>(input->parentWidget()))
      continue;  // the inner line edit of a combo or spin box
    bool captioned = false;
    for (const QLabel* label : rig.dialog->findChildren<QLabel*>())
      captioned = captioned || label->buddy() == input;
    EXPECT_TRUE(captioned) << input->objectName().toStdString();
    EXPECT_FALSE(input->accessibleName().isEmpty()) << input->objectName().toStdString();
  }

  rig.find<QLineEdit>("mqttHost")->setText("10.0.0.9");
  rig.find<QCheckBox>("mqttCommands")->setChecked(true);
  rig.find<QSpinBox>("modbusPort")->setValue(1502);
  rig.find<QPushButton>("ok")->click();
  EXPECT_TRUE(rig.tk.messages.empty());
  EXPECT_EQ(rig.restarts, 1);
  EXPECT_TRUE(rig.dialog.isNull() || !rig.dialog->isVisible());
  s.mqtt.host = "10.0.0.9";
  s.mqtt.commands = true;
  s.modbus.port = 1502;
  EXPECT_EQ(rig.file(), formatNetSettings(s));
}

TEST(PublishingDialog, ARefusedValueNamesItsFieldAndEscapeWritesNothing) {
  DialogRig rig;
  rig.open();  // no file: the defaults
  EXPECT_FALSE(rig.find<QCheckBox>("mqttEnabled")->isChecked());
  EXPECT_EQ(rig.find<QLineEdit>("mqttHost")->text(), "127.0.0.1");
  EXPECT_EQ(rig.find<QSpinBox>("modbusPort")->value(), 1502);

  const std::pair<const char*, const char*> refused[] = {
      {"mqttPrefix", "Topic prefix: the value must be a topic level without the wildcards"},
      {"mqttHost", "Broker host: the value may not be empty"},
      {"mqttPassword", "Password: the file can not hold this value"},
      {"modbusBind", "Bind address: the value may not be empty"},
  };
  const std::map<std::string, QString> values = {{"mqttPrefix", "plant/#"},
                                                 {"mqttHost", ""},
                                                 {"mqttPassword", "top ;secret"},
                                                 {"modbusBind", ""}};
  for (const auto& [name, expected] : refused) {
    auto* edit = rig.find<QLineEdit>(name);
    const QString before = edit->text();
    edit->setText(values.at(name));
    rig.tk.messages.clear();
    rig.find<QPushButton>("ok")->click();
    ASSERT_EQ(rig.tk.messages.size(), 1u) << name;
    EXPECT_NE(rig.tk.messages[0].find(expected), std::string::npos) << rig.tk.messages[0];
    EXPECT_EQ(rig.tk.messages[0].find("secret"), std::string::npos);
    EXPECT_TRUE(rig.dialog->isVisible());
    EXPECT_FALSE(std::filesystem::exists(rig.path));
    edit->setText(before);
  }
  EXPECT_EQ(rig.restarts, 0);

  rig.find<QCheckBox>("modbusEnabled")->setChecked(true);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(rig.find<QSpinBox>("modbusPort"), &escape);
  EXPECT_TRUE(rig.dialog.isNull() || !rig.dialog->isVisible());
  EXPECT_FALSE(std::filesystem::exists(rig.path));
  EXPECT_EQ(rig.restarts, 0);
}

// A refusal names its field by the key it edits: a value the reader refuses, or one the file
// would give back otherwise.
TEST(PublishingDialog, ARefusalNamesTheKeyOfItsField) {
  DialogRig rig;
  rig.open();
  EXPECT_EQ(rig.dialog->refusal().key, nullptr);
  const struct {
    const char* input;
    const char* value;
    const char* section;
    const char* key;
  } refused[] = {
      {"mqttPrefix", "plant/+", "mqtt", "prefix"},
      {"mqttCaFile", "/etc/ca.pem ", "mqtt", "ca_file"},
      {"httpBind", "", "http", "bind"},
      {"httpToken", "tooshort", "http", "token"},
  };
  for (const auto& [input, value, section, key] : refused) {
    auto* edit = rig.find<QLineEdit>(input);
    const QString before = edit->text();
    edit->setText(QString::fromUtf8(value));
    EXPECT_EQ(rig.dialog->refusal().key, netSettingKey(section, key)) << input;
    edit->setText(before);
  }
}

// A bind address is taken as the Modbus server takes it: a host name that names nothing is
// refused with the field named, while the dialog stays live; a name that resolves is written.
TEST(PublishingDialog, AModbusBindNameIsLookedUpBeforeItIsWritten) {
  DialogRig rig;
  rig.open();
  rig.find<QCheckBox>("modbusEnabled")->setChecked(true);
  auto* bind = rig.find<QLineEdit>("modbusBind");
  bind->setText("no-such-host.invalid");
  rig.find<QPushButton>("ok")->click();
  ASSERT_TRUE(waitFor([&] { return !rig.tk.messages.empty(); }));
  EXPECT_NE(rig.tk.messages[0].find("Bind address: no-such-host.invalid is no address"),
            std::string::npos)
      << rig.tk.messages[0];
  EXPECT_TRUE(rig.dialog->isVisible());
  EXPECT_TRUE(rig.find<QPushButton>("ok")->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(rig.path));

  rig.tk.messages.clear();
  bind->setText("localhost");
  rig.find<QPushButton>("ok")->click();
  ASSERT_TRUE(waitFor([&] { return rig.dialog.isNull() || !rig.dialog->isVisible(); }));
  EXPECT_TRUE(rig.tk.messages.empty());
  EXPECT_EQ(rig.restarts, 1);
  EXPECT_NE(rig.file().find("\nbind=localhost\n"), std::string::npos);
}

// The HTTP group: a token the server would refuse is refused here without being repeated; a new
// token is drawn at random; a bind name is looked up as for Modbus; the file keeps the token for
// its owner alone.
TEST(PublishingDialog, HttpSettingsAreCheckedAsTheServerReadsThem) {
  DialogRig rig;
  rig.open();
  EXPECT_FALSE(rig.find<QCheckBox>("httpEnabled")->isChecked());
  EXPECT_EQ(rig.find<QLineEdit>("httpBind")->text(), "127.0.0.1");
  EXPECT_EQ(rig.find<QSpinBox>("httpPort")->value(), kHttpDefaultPort);
  auto* token = rig.find<QLineEdit>("httpToken");
  EXPECT_EQ(token->echoMode(), QLineEdit::Password);

  rig.find<QCheckBox>("httpEnabled")->setChecked(true);
  token->setText("tooshort");
  rig.find<QPushButton>("ok")->click();
  ASSERT_EQ(rig.tk.messages.size(), 1u);
  EXPECT_NE(rig.tk.messages[0].find("Token: the value must be empty or 16 to 256"),
            std::string::npos)
      << rig.tk.messages[0];
  EXPECT_EQ(rig.tk.messages[0].find("tooshort"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(rig.path));

  rig.find<QPushButton>("httpNewToken")->click();
  const QString drawn = token->text();
  EXPECT_EQ(drawn.size(), 48);
  rig.find<QPushButton>("httpNewToken")->click();
  EXPECT_NE(token->text(), drawn);

  rig.tk.messages.clear();
  rig.find<QLineEdit>("httpBind")->setText("no-such-host.invalid");
  rig.find<QPushButton>("ok")->click();
  ASSERT_TRUE(waitFor([&] { return !rig.tk.messages.empty(); }));
  EXPECT_NE(rig.tk.messages[0].find("HTTP bind address: no-such-host.invalid is no address"),
            std::string::npos)
      << rig.tk.messages[0];
  EXPECT_FALSE(std::filesystem::exists(rig.path));

  // The PC's further names: what the server reads, or refused by their field.
  rig.tk.messages.clear();
  auto* hosts = rig.find<QLineEdit>("httpHosts");
  hosts->setText("plant-pc/weights");
  rig.find<QPushButton>("ok")->click();
  ASSERT_EQ(rig.tk.messages.size(), 1u);
  EXPECT_NE(rig.tk.messages[0].find("HTTP host names: the value must list at most 16"),
            std::string::npos)
      << rig.tk.messages[0];
  EXPECT_FALSE(std::filesystem::exists(rig.path));
  hosts->setText("plant-pc.example.com,  weigh-7 ");

  rig.tk.messages.clear();
  rig.find<QLineEdit>("httpBind")->setText("localhost");
  rig.find<QCheckBox>("httpCommands")->setChecked(true);
  const std::string entered = token->text().toStdString();
  rig.find<QPushButton>("ok")->click();
  ASSERT_TRUE(waitFor([&] { return rig.dialog.isNull() || !rig.dialog->isVisible(); }));
  EXPECT_TRUE(rig.tk.messages.empty());
  const NetSettings written = readNetSettings(rig.path.string());
  EXPECT_TRUE(written.http.enabled && written.http.commands);
  EXPECT_EQ(written.http.bind, "localhost");
  EXPECT_EQ(written.http.hosts, (std::vector<std::string>{"plant-pc.example.com", "weigh-7"}));
  EXPECT_EQ(written.http.token, entered);
  EXPECT_EQ(std::filesystem::status(rig.path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace trv4::test
