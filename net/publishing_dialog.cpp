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
#include <algorithm>
#include <array>
#include <string_view>

#include "net/bind_address.h"

namespace trv4 {

// An input of the dialog: the key it edits, its object name (its label's is the name and
// "Label"), its caption (a check box's text), the name assistive technology and refusals give it
// (the caption without its marked letter and colon when empty), a hint (a line's placeholder, a
// spin box's unit) and a button beside it.
struct PublishingDialog::Input {
  const char* section;
  const char* key;
  const char* name;
  const char* caption;
  const char* spoken = "";
  const char* hint = "";
  QPushButton* (PublishingDialog::*button)(QLineEdit*) = nullptr;
};

std::span<const PublishingDialog::Input> PublishingDialog::inputs() {
  static const Input table[] = {
      {"mqtt", "enabled", "mqttEnabled", QT_TR_NOOP("&Publish by MQTT")},
      {"mqtt", "host", "mqttHost", QT_TR_NOOP("&Broker host:")},
      {"mqtt", "port", "mqttPort", QT_TR_NOOP("P&ort:")},
      {"mqtt", "prefix", "mqttPrefix", QT_TR_NOOP("Topic p&refix:")},
      {"mqtt", "client_id", "mqttClientId", QT_TR_NOOP("C&lient id:"), "",
       QT_TR_NOOP("empty: trv4-<host name>")},
      {"mqtt", "username", "mqttUsername", QT_TR_NOOP("&User name:")},
      {"mqtt", "password", "mqttPassword", QT_TR_NOOP("Pass&word:")},
      {"mqtt", "ca_file", "mqttCaFile", QT_TR_NOOP("&CA file (TLS):"), "",
       QT_TR_NOOP("empty: no TLS"), &PublishingDialog::browseButton},
      {"mqtt", "qos", "mqttQos", QT_TR_NOOP("&QoS:")},
      {"mqtt", "heartbeat_s", "mqttHeartbeat", QT_TR_NOOP("&Heartbeat every:"), "",
       QT_TR_NOOP(" s")},
      {"mqtt", "commands", "mqttCommands", QT_TR_NOOP("Accept co&mmands (tare, zero)"),
       QT_TR_NOOP("Accept commands")},
      {"sparkplug", "enabled", "sparkplugEnabled", QT_TR_NOOP("Publish by Sparkplu&g B")},
      {"sparkplug", "group_id", "sparkplugGroupId", QT_TR_NOOP("&Sparkplug group id:")},
      {"sparkplug", "edge_node_id", "sparkplugEdgeNodeId", QT_TR_NOOP("Edge &node id:"), "",
       QT_TR_NOOP("empty: the host name")},
      {"sparkplug", "primary_host_id", "sparkplugPrimaryHostId", QT_TR_NOOP("Primar&y host id:"),
       "", QT_TR_NOOP("empty: births at once")},
      {"sparkplug", "commands", "sparkplugCommands",
       QT_TR_NOOP("Accept commands by Sparkplug (tare, zero)"),
       QT_TR_NOOP("Accept commands by Sparkplug")},
      {"modbus", "enabled", "modbusEnabled", QT_TR_NOOP("Serve by Mo&dbus TCP")},
      {"modbus", "bind", "modbusBind", QT_TR_NOOP("B&ind address:"), QT_TR_NOOP("Bind address")},
      {"modbus", "port", "modbusPort", QT_TR_NOOP("Por&t:"), QT_TR_NOOP("Modbus port")},
      {"http", "enabled", "httpEnabled", QT_TR_NOOP("Serve by HTTP (API, metrics, dashboard)"),
       QT_TR_NOOP("Serve by HTTP")},
      {"http", "bind", "httpBind", QT_TR_NOOP("Bind &address:"), QT_TR_NOOP("HTTP bind address")},
      {"http", "port", "httpPort", QT_TR_NOOP("Port:"),
       QT_TR_NOOP("HTTP port")},  // every letter of it has a field
      {"http", "hosts", "httpHosts", QT_TR_NOOP("Other nam&es:"), QT_TR_NOOP("HTTP host names"),
       QT_TR_NOOP("names of this PC, separated by commas")},
      {"http", "token", "httpToken", QT_TR_NOOP("To&ken:"), QT_TR_NOOP("Token"),
       QT_TR_NOOP("empty: no writes"), &PublishingDialog::newTokenButton},
      {"http", "commands", "httpCommands", QT_TR_NOOP("Accept commands by HTTP (tare, zero)"),
       QT_TR_NOOP("Accept commands by HTTP")},
  };
  return table;
}

namespace {

template <typename W>
W* named(W* widget, const QString& name, const QString& accessible) {
  widget->setObjectName(name);
  widget->setAccessibleName(accessible);
  return widget;
}

// A caption as a name: without its marked letter and colon.
QString plain(const QString& caption) {
  QString name = QString(caption).remove(QLatin1Char('&'));
  if (name.endsWith(QLatin1Char(':'))) name.chop(1);
  return name;
}

// The dialog's groups: a section of the file each.
// The dialog's groups: a section of the file each, in two columns (the broker's beside the
// servers'), so that the dialog fits a small screen.
struct Group {
  const char* section;
  const char* title;
  int column;
};
constexpr Group kGroups[] = {
    {"mqtt", QT_TRANSLATE_NOOP("trv4::PublishingDialog", "MQTT"), 0},
    {"sparkplug", QT_TRANSLATE_NOOP("trv4::PublishingDialog", "Sparkplug B (on the MQTT broker)"),
     0},
    {"modbus", QT_TRANSLATE_NOOP("trv4::PublishingDialog", "Modbus TCP"), 1},
    {"http", QT_TRANSLATE_NOOP("trv4::PublishingDialog", "HTTP"), 1},
};

}  // namespace

PublishingDialog::PublishingDialog(std::string path, Toolkit& toolkit,
                                   std::function<void()> restart, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), toolkit_(toolkit), restart_(std::move(restart)) {
  setObjectName(QStringLiteral("PublishingDialog"));
  setWindowTitle(tr("Publishing"));
  setAccessibleName(tr("Publishing"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* layout = new QVBoxLayout(this);
  auto* columns = new QHBoxLayout;
  QVBoxLayout* column[2] = {new QVBoxLayout, new QVBoxLayout};
  for (QVBoxLayout* c : column) columns->addLayout(c);
  layout->addLayout(columns);
  for (const Group& g : kGroups) {
    auto* group =
        named(new QGroupBox(tr(g.title)), QString::fromLatin1(g.section) + "Group", tr(g.title));
    auto* form = new QFormLayout(group);
    for (const Input& in : inputs())
      if (std::string_view(in.section) == g.section) build(in, form);
    if (std::string_view(g.section) == "mqtt")
      form->addRow(named(new QLabel(tr("Commands reach the scales: the broker's access rules\n"
                                       "must let only trusted clients write the command topics.")),
                         QStringLiteral("mqttCommandsWarning"), tr("Commands warning")));
    column[g.column]->addWidget(group);
  }
  for (QVBoxLayout* c : column) c->addStretch();

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->setObjectName(QStringLiteral("buttons"));
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  named(ok, QStringLiteral("ok"), tr("OK"));
  ok_ = ok;
  named(buttons->button(QDialogButtonBox::Cancel), QStringLiteral("cancel"), tr("Cancel"));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &PublishingDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PublishingDialog::reject);

  lookingUp_ = named(new QLabel, QStringLiteral("lookingUp"), tr("Looking up"));
  lookingUp_->hide();
  layout->addWidget(lookingUp_);
  layout->addWidget(buttons);

  load(readNetSettings(path_));
}

// The input with its caption: the label is the input's buddy, so Alt and the marked letter reach
// it. A check box is its own caption.
void PublishingDialog::build(const Input& in, QFormLayout* form) {
  const SettingKey* key = netSettingKey(in.section, in.key);
  Q_ASSERT(key != nullptr);
  const QString caption = tr(in.caption);
  const QString spoken = *in.spoken != 0 ? tr(in.spoken) : plain(caption);
  QWidget* input = named(makeInput(*key, in), QString::fromLatin1(in.name), spoken);
  fields_.push_back({key, input, spoken});
  if (key->kind == SettingKind::Boolean) {
    form->addRow(input);
    return;
  }
  QWidget* field = input;
  if (in.button != nullptr) {
    field = new QWidget;
    auto* row = new QHBoxLayout(field);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(input, 1);
    row->addWidget((this->*in.button)(static_cast<QLineEdit*>(input)));
  }
  auto* label = new QLabel(caption);
  label->setObjectName(QString::fromLatin1(in.name) + "Label");
  label->setBuddy(input);
  form->addRow(label, field);
}

QWidget* PublishingDialog::makeInput(const SettingKey& key, const Input& in) {
  switch (key.kind) {
    case SettingKind::Boolean:
      return new QCheckBox(tr(in.caption));
    case SettingKind::Number: {
      auto* box = new QSpinBox;
      box->setRange(key.min, key.max);
      box->setSuffix(tr(in.hint));
      return box;
    }
    case SettingKind::Choice: {
      auto* box = new QComboBox;
      for (int v = key.min; v <= key.max; ++v) box->addItem(QString::number(v));
      return box;
    }
    case SettingKind::Text:
    case SettingKind::List:
      break;
  }
  auto* edit = new QLineEdit;
  edit->setPlaceholderText(tr(in.hint));
  if (key.secret) edit->setEchoMode(QLineEdit::Password);
  return edit;
}

const PublishingDialog::Field& PublishingDialog::field(const SettingKey* key) const {
  return *std::find_if(fields_.begin(), fields_.end(),
                       [&](const Field& f) { return f.key == key; });
}

QPushButton* PublishingDialog::browseButton(QLineEdit* caFile) {
  auto* browse = named(new QPushButton(tr("Brow&se…")), QStringLiteral("mqttCaBrowse"),
                       tr("Browse for the CA file"));
  connect(browse, &QPushButton::clicked, this, [this, caFile] {
    const QString file = QFileDialog::getOpenFileName(
        this, tr("CA File"), caFile->text(), tr("Certificates (*.pem *.crt);;All files (*)"));
    if (!file.isEmpty()) caFile->setText(file);
  });
  return browse;
}

QPushButton* PublishingDialog::newTokenButton(QLineEdit* token) {
  auto* generate =
      named(new QPushButton(tr("&New token")), QStringLiteral("httpNewToken"), tr("New token"));
  connect(generate, &QPushButton::clicked, this, [token] {
    // 24 random bytes from the system's source, as 48 hexadecimal digits.
    std::array<quint32, 6> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof words);
    token->setText(QString::fromLatin1(bytes.toHex()));
    token->setEchoMode(QLineEdit::Normal);  // shown once, to be copied to the client
  });
  return generate;
}

void PublishingDialog::load(const NetSettings& s) {
  loaded_ = s;
  for (const Field& f : fields_) {
    const SettingKey& key = *f.key;
    switch (key.kind) {
      case SettingKind::Boolean:
        static_cast<QCheckBox*>(f.input)->setChecked(settingValue<bool>(key, s));
        break;
      case SettingKind::Number:
        static_cast<QSpinBox*>(f.input)->setValue(settingValue<int>(key, s));
        break;
      case SettingKind::Choice:
        static_cast<QComboBox*>(f.input)->setCurrentIndex(settingValue<int>(key, s) - key.min);
        break;
      case SettingKind::Text:
      case SettingKind::List:
        static_cast<QLineEdit*>(f.input)->setText(QString::fromStdString(settingText(key, s)));
        break;
    }
  }
}

NetSettings PublishingDialog::entered() const {
  NetSettings s = loaded_;
  s.problems.clear();
  for (const Field& f : fields_) {
    const SettingKey& key = *f.key;
    switch (key.kind) {
      case SettingKind::Boolean:
        settingValue<bool>(key, s) = static_cast<QCheckBox*>(f.input)->isChecked();
        break;
      case SettingKind::Number:
        settingValue<int>(key, s) = static_cast<QSpinBox*>(f.input)->value();
        break;
      case SettingKind::Choice:
        settingValue<int>(key, s) = static_cast<QComboBox*>(f.input)->currentIndex() + key.min;
        break;
      case SettingKind::Text:
        settingValue<std::string>(key, s) = static_cast<QLineEdit*>(f.input)->text().toStdString();
        break;
      case SettingKind::List: {
        std::vector<std::string> names;
        for (const QString& n : static_cast<QLineEdit*>(f.input)->text().split(
                 QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts))
          names.push_back(n.toStdString());
        settingValue<std::vector<std::string>>(key, s) = std::move(names);
        break;
      }
    }
  }
  return s;
}

PublishingDialog::Refusal PublishingDialog::refusal() const {
  const NetSettings wanted = entered();
  for (const Field& f : fields_) {
    const WrittenSetting written = checkWritten(*f.key, wanted);
    if (written.refused)
      return {f.key, tr("%1: the value %2. Nothing was written.")
                         .arg(f.spoken, QString::fromStdString(written.why))};
    if (written.changed)
      return {f.key,
              tr("%1: the file can not hold this value. It may not begin or end with a blank, "
                 "span lines, or have a \";\" after a blank. Nothing was written.")
                  .arg(f.spoken)};
  }
  return {};
}

void PublishingDialog::accept() {
  if (!ok_->isEnabled()) return;  // a look-up runs
  const Refusal refused = refusal();
  if (refused.key != nullptr) {
    toolkit_.messageBox(refused.message.toStdString());
    field(refused.key).input->setFocus();
    return;
  }
  const NetSettings wanted = entered();
  // A bind address a server would refuse at start is refused here: a host name is looked up as
  // the server looks it up, while the dialog stays live.
  std::vector<BindName> names;
  for (const char* server : {"modbus", "http"}) {
    const Field& bind = field(netSettingKey(server, "bind"));
    const std::string name = settingValue<std::string>(*bind.key, wanted);
    if (settingValue<bool>(*netSettingKey(server, "enabled"), wanted) && !bindLiteral(name))
      names.push_back({bind.spoken, name, bind.input});
  }
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

}  // namespace trv4
