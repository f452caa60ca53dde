#include "net/publishing_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>
#include <array>

#include "net/bind_address.h"

namespace trv4 {

namespace {

template <typename W>
W* named(W* widget, const char* name, const QString& accessible) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setAccessibleName(accessible);
  return widget;
}

// An input with its caption: the label is the input's buddy, so Alt and the marked letter reach it.
void addRow(QFormLayout* form, const QString& caption, const char* labelName, QWidget* input,
            QWidget* field = nullptr) {
  auto* label = new QLabel(caption);
  label->setObjectName(QString::fromLatin1(labelName));
  label->setBuddy(input);
  form->addRow(label, field != nullptr ? field : input);
}

QSpinBox* spin(int lo, int hi) {
  auto* box = new QSpinBox;
  box->setRange(lo, hi);
  return box;
}

// A caption as a name: without its marked letter and colon.
QString plain(const QString& caption) {
  QString name = QString(caption).remove(QLatin1Char('&'));
  if (name.endsWith(QLatin1Char(':'))) name.chop(1);
  return name;
}

std::string text(const QLineEdit* edit) {
  return edit->text().toStdString();
}

}  // namespace

PublishingDialog::PublishingDialog(std::string path, Toolkit& toolkit,
                                   std::function<void()> restart, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), toolkit_(toolkit), restart_(std::move(restart)) {
  setObjectName(QStringLiteral("PublishingDialog"));
  setWindowTitle(tr("Publishing"));
  setAccessibleName(tr("Publishing"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* mqtt = named(new QGroupBox(tr("MQTT")), "mqttGroup", tr("MQTT"));
  auto* mqttForm = new QFormLayout(mqtt);
  buildMqtt(mqttForm);
  auto* modbus = named(new QGroupBox(tr("Modbus TCP")), "modbusGroup", tr("Modbus TCP"));
  auto* modbusForm = new QFormLayout(modbus);
  buildModbus(modbusForm);
  auto* http = named(new QGroupBox(tr("HTTP")), "httpGroup", tr("HTTP"));
  auto* httpForm = new QFormLayout(http);
  buildHttp(httpForm);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->setObjectName(QStringLiteral("buttons"));
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  named(ok, "ok", tr("OK"));
  ok_ = ok;
  named(buttons->button(QDialogButtonBox::Cancel), "cancel", tr("Cancel"));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &PublishingDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PublishingDialog::reject);

  lookingUp_ = named(new QLabel, "lookingUp", tr("Looking up"));
  lookingUp_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mqtt);
  layout->addWidget(modbus);
  layout->addWidget(http);
  layout->addWidget(lookingUp_);
  layout->addWidget(buttons);

  load(readNetSettings(path_));
}

void PublishingDialog::buildMqtt(QFormLayout* form) {
  mqttEnabled_ = named(new QCheckBox(tr("&Publish by MQTT")), "mqttEnabled", tr("Publish by MQTT"));
  form->addRow(mqttEnabled_);
  const auto row = [&](auto* input, const char* name, const char* label, const QString& caption,
                       const char* section, const char* key, auto same, QWidget* field = nullptr) {
    named(input, name, plain(caption));
    addRow(form, caption, label, input, field);
    keys_.push_back({section, key, input, plain(caption), same});
  };
  row(host_ = new QLineEdit, "mqttHost", "mqttHostLabel", tr("&Broker host:"), "mqtt", "host",
      [](const NetSettings& a, const NetSettings& b) { return a.mqtt.host == b.mqtt.host; });
  row(mqttPort_ = spin(1, 65535), "mqttPort", "mqttPortLabel", tr("P&ort:"), "mqtt", "port",
      [](const NetSettings& a, const NetSettings& b) { return a.mqtt.port == b.mqtt.port; });
  row(prefix_ = new QLineEdit, "mqttPrefix", "mqttPrefixLabel", tr("Topic p&refix:"), "mqtt",
      "prefix",
      [](const NetSettings& a, const NetSettings& b) { return a.mqtt.prefix == b.mqtt.prefix; });
  clientId_ = new QLineEdit;
  clientId_->setPlaceholderText(tr("empty: trv4-<host name>"));
  row(clientId_, "mqttClientId", "mqttClientIdLabel", tr("C&lient id:"), "mqtt", "client_id",
      [](const NetSettings& a, const NetSettings& b) {
        return a.mqtt.clientId == b.mqtt.clientId;
      });
  row(username_ = new QLineEdit, "mqttUsername", "mqttUsernameLabel", tr("&User name:"), "mqtt",
      "username", [](const NetSettings& a, const NetSettings& b) {
        return a.mqtt.username == b.mqtt.username;
      });
  password_ = new QLineEdit;
  password_->setEchoMode(QLineEdit::Password);
  row(password_, "mqttPassword", "mqttPasswordLabel", tr("Pass&word:"), "mqtt", "password",
      [](const NetSettings& a, const NetSettings& b) {
        return a.mqtt.password == b.mqtt.password;
      });

  caFile_ = new QLineEdit;
  caFile_->setPlaceholderText(tr("empty: no TLS"));
  auto* browse =
      named(new QPushButton(tr("Brow&se…")), "mqttCaBrowse", tr("Browse for the CA file"));
  connect(browse, &QPushButton::clicked, this, &PublishingDialog::browseCaFile);
  auto* caField = new QWidget;
  auto* caRow = new QHBoxLayout(caField);
  caRow->setContentsMargins(0, 0, 0, 0);
  caRow->addWidget(caFile_, 1);
  caRow->addWidget(browse);
  row(
      caFile_, "mqttCaFile", "mqttCaFileLabel", tr("&CA file (TLS):"), "mqtt", "ca_file",
      [](const NetSettings& a, const NetSettings& b) { return a.mqtt.caFile == b.mqtt.caFile; },
      caField);

  qos_ = new QComboBox;
  qos_->addItems({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")});
  row(qos_, "mqttQos", "mqttQosLabel", tr("&QoS:"), "mqtt", "qos",
      [](const NetSettings& a, const NetSettings& b) { return a.mqtt.qos == b.mqtt.qos; });
  heartbeat_ = spin(1, 3600);
  heartbeat_->setSuffix(tr(" s"));
  row(heartbeat_, "mqttHeartbeat", "mqttHeartbeatLabel", tr("&Heartbeat every:"), "mqtt",
      "heartbeat_s", [](const NetSettings& a, const NetSettings& b) {
        return a.mqtt.heartbeatS == b.mqtt.heartbeatS;
      });

  commands_ = named(new QCheckBox(tr("Accept co&mmands (tare, zero)")), "mqttCommands",
                    tr("Accept commands"));
  form->addRow(commands_);
  auto* warning = named(new QLabel(tr("Commands reach the scales: the broker's access rules\n"
                                      "must let only trusted clients write the command topics.")),
                        "mqttCommandsWarning", tr("Commands warning"));
  form->addRow(warning);
}

void PublishingDialog::buildModbus(QFormLayout* form) {
  modbusEnabled_ =
      named(new QCheckBox(tr("Serve by Mo&dbus TCP")), "modbusEnabled", tr("Serve by Modbus TCP"));
  form->addRow(modbusEnabled_);
  bind_ = named(new QLineEdit, "modbusBind", tr("Bind address"));
  addRow(form, tr("B&ind address:"), "modbusBindLabel", bind_);
  keys_.push_back(
      {"modbus", "bind", bind_, tr("Bind address"),
       [](const NetSettings& a, const NetSettings& b) { return a.modbus.bind == b.modbus.bind; }});
  modbusPort_ = named(spin(1, 65535), "modbusPort", tr("Modbus port"));
  addRow(form, tr("Por&t:"), "modbusPortLabel", modbusPort_);
  keys_.push_back(
      {"modbus", "port", modbusPort_, tr("Modbus port"),
       [](const NetSettings& a, const NetSettings& b) { return a.modbus.port == b.modbus.port; }});
}

void PublishingDialog::buildHttp(QFormLayout* form) {
  httpEnabled_ = named(new QCheckBox(tr("Serve by HTTP (API, metrics, dashboard)")), "httpEnabled",
                       tr("Serve by HTTP"));
  form->addRow(httpEnabled_);
  httpBind_ = named(new QLineEdit, "httpBind", tr("HTTP bind address"));
  addRow(form, tr("Bind &address:"), "httpBindLabel", httpBind_);
  keys_.push_back(
      {"http", "bind", httpBind_, tr("HTTP bind address"),
       [](const NetSettings& a, const NetSettings& b) { return a.http.bind == b.http.bind; }});
  httpPort_ = named(spin(1, 65535), "httpPort", tr("HTTP port"));
  addRow(form, tr("Port:"), "httpPortLabel", httpPort_);  // every letter of it has a field
  keys_.push_back(
      {"http", "port", httpPort_, tr("HTTP port"),
       [](const NetSettings& a, const NetSettings& b) { return a.http.port == b.http.port; }});
  // More names of this PC a request may give, beside its addresses and localhost.
  httpHosts_ = named(new QLineEdit, "httpHosts", tr("HTTP host names"));
  httpHosts_->setPlaceholderText(tr("names of this PC, separated by commas"));
  addRow(form, tr("Other nam&es:"), "httpHostsLabel", httpHosts_);
  keys_.push_back(
      {"http", "hosts", httpHosts_, tr("HTTP host names"),
       [](const NetSettings& a, const NetSettings& b) { return a.http.hosts == b.http.hosts; }});

  token_ = named(new QLineEdit, "httpToken", tr("Token"));
  token_->setEchoMode(QLineEdit::Password);
  token_->setPlaceholderText(tr("empty: no writes"));
  auto* generate = named(new QPushButton(tr("&New token")), "httpNewToken", tr("New token"));
  connect(generate, &QPushButton::clicked, this, [this] {
    // 24 random bytes from the system's source, as 48 hexadecimal digits.
    std::array<quint32, 6> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof words);
    token_->setText(QString::fromLatin1(bytes.toHex()));
    token_->setEchoMode(QLineEdit::Normal);  // shown once, to be copied to the client
  });
  auto* tokenField = new QWidget;
  auto* tokenRow = new QHBoxLayout(tokenField);
  tokenRow->setContentsMargins(0, 0, 0, 0);
  tokenRow->addWidget(token_, 1);
  tokenRow->addWidget(generate);
  addRow(form, tr("To&ken:"), "httpTokenLabel", token_, tokenField);
  keys_.push_back(
      {"http", "token", token_, tr("Token"),
       [](const NetSettings& a, const NetSettings& b) { return a.http.token == b.http.token; }});

  httpCommands_ = named(new QCheckBox(tr("Accept commands by HTTP (tare, zero)")), "httpCommands",
                        tr("Accept commands by HTTP"));
  form->addRow(httpCommands_);
}

void PublishingDialog::load(const NetSettings& s) {
  captures_ = s.captures;
  mqttEnabled_->setChecked(s.mqtt.enabled);
  host_->setText(QString::fromStdString(s.mqtt.host));
  mqttPort_->setValue(s.mqtt.port);
  prefix_->setText(QString::fromStdString(s.mqtt.prefix));
  clientId_->setText(QString::fromStdString(s.mqtt.clientId));
  username_->setText(QString::fromStdString(s.mqtt.username));
  password_->setText(QString::fromStdString(s.mqtt.password));
  caFile_->setText(QString::fromStdString(s.mqtt.caFile));
  qos_->setCurrentIndex(s.mqtt.qos);
  heartbeat_->setValue(s.mqtt.heartbeatS);
  commands_->setChecked(s.mqtt.commands);
  modbusEnabled_->setChecked(s.modbus.enabled);
  bind_->setText(QString::fromStdString(s.modbus.bind));
  modbusPort_->setValue(s.modbus.port);
  httpEnabled_->setChecked(s.http.enabled);
  httpBind_->setText(QString::fromStdString(s.http.bind));
  httpPort_->setValue(s.http.port);
  QStringList hosts;
  for (const std::string& h : s.http.hosts) hosts << QString::fromStdString(h);
  httpHosts_->setText(hosts.join(QStringLiteral(", ")));
  token_->setText(QString::fromStdString(s.http.token));
  httpCommands_->setChecked(s.http.commands);
}

NetSettings PublishingDialog::entered() const {
  NetSettings s;
  s.captures = captures_;
  s.mqtt.enabled = mqttEnabled_->isChecked();
  s.mqtt.host = text(host_);
  s.mqtt.port = mqttPort_->value();
  s.mqtt.prefix = text(prefix_);
  s.mqtt.clientId = text(clientId_);
  s.mqtt.username = text(username_);
  s.mqtt.password = text(password_);
  s.mqtt.caFile = text(caFile_);
  s.mqtt.qos = qos_->currentIndex();
  s.mqtt.heartbeatS = heartbeat_->value();
  s.mqtt.commands = commands_->isChecked();
  s.modbus.enabled = modbusEnabled_->isChecked();
  s.modbus.bind = text(bind_);
  s.modbus.port = modbusPort_->value();
  s.http.enabled = httpEnabled_->isChecked();
  s.http.bind = text(httpBind_);
  s.http.port = httpPort_->value();
  for (const QString& h :
       httpHosts_->text().split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts))
    s.http.hosts.push_back(h.toStdString());
  s.http.token = text(token_);
  s.http.commands = httpCommands_->isChecked();
  return s;
}

QString PublishingDialog::refusal(QWidget** input) const {
  const NetSettings wanted = entered();
  const NetSettings read = parseNetSettings(formatNetSettings(wanted));
  for (const Key& k : keys_) {
    *input = k.input;
    // The reader's words, after the key it names: "... "host" in [mqtt] may not be empty; ...".
    const std::string named = "\"" + std::string(k.key) + "\" in [" + k.section + "] ";
    for (const std::string& problem : read.problems) {
      const auto at = problem.find(named);
      if (at == std::string::npos) continue;
      std::string why = problem.substr(at + named.size());
      why = why.substr(0, why.rfind("; "));
      return tr("%1: the value %2. Nothing was written.")
          .arg(k.caption, QString::fromStdString(why));
    }
    if (!k.same(wanted, read))
      return tr("%1: the file can not hold this value. It may not begin or end with a blank, "
                "span lines, or have a \";\" after a blank. Nothing was written.")
          .arg(k.caption);
  }
  return {};
}

void PublishingDialog::accept() {
  if (!ok_->isEnabled()) return;  // a look-up runs
  QWidget* input = nullptr;
  const QString refused = refusal(&input);
  if (!refused.isEmpty()) {
    toolkit_.messageBox(refused.toStdString());
    input->setFocus();
    return;
  }
  const NetSettings wanted = entered();
  // A bind address a server would refuse at start is refused here: a host name is looked up as
  // the server looks it up, while the dialog stays live.
  std::vector<BindName> names;
  if (wanted.modbus.enabled && !bindLiteral(wanted.modbus.bind))
    names.push_back({tr("Bind address"), wanted.modbus.bind, bind_});
  if (wanted.http.enabled && !bindLiteral(wanted.http.bind))
    names.push_back({tr("HTTP bind address"), wanted.http.bind, httpBind_});
  lookUpThenWrite(wanted, std::move(names));
}

void PublishingDialog::lookUpThenWrite(const NetSettings& wanted, std::vector<BindName> names) {
  if (names.empty()) {
    write(wanted);
    return;
  }
  const BindName first = names.front();
  names.erase(names.begin());
  const QString name = QString::fromStdString(first.name);
  ok_->setEnabled(false);
  lookingUp_->setText(tr("Looking up %1 …").arg(name));
  lookingUp_->show();
  lookUpBind(
      first.name, this,
      [this, wanted, first, name, rest = std::move(names)](const BindAddresses& found) mutable {
        ok_->setEnabled(true);
        lookingUp_->hide();
        if (!found.addresses.isEmpty()) {
          lookUpThenWrite(wanted, std::move(rest));
          return;
        }
        toolkit_.messageBox(tr("%1: %2 is no address and no host name this PC can look "
                               "up (%3). Nothing was written.")
                                .arg(first.caption, name, QString::fromStdString(found.why))
                                .toStdString());
        first.input->setFocus();
      });
}

void PublishingDialog::write(const NetSettings& settings) {
  std::string error;
  if (!writeNetSettings(path_, settings, &error)) {
    toolkit_.messageBox(error);
    return;
  }
  if (restart_) restart_();
  QDialog::accept();
}

void PublishingDialog::browseCaFile() {
  const QString file = QFileDialog::getOpenFileName(
      this, tr("CA File"), caFile_->text(), tr("Certificates (*.pem *.crt);;All files (*)"));
  if (!file.isEmpty()) caFile_->setText(file);
}

}  // namespace trv4
