// "Publishing": the dialog that edits TRV4NET.INI. It opens with what the file holds (the
// defaults when there is none); OK checks the values as the file's reader does (and a Modbus or
// HTTP bind address as the server does), writes the file and restarts publishing with it; Cancel
// changes nothing. It deletes itself when closed.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "net/net_settings.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace trv4 {

class PublishingDialog : public QDialog {
  Q_OBJECT

 public:
  // path: the settings file; restart: publishing starts again with the file just written.
  PublishingDialog(std::string path, Toolkit& toolkit, std::function<void()> restart,
                   QWidget* parent = nullptr);

  // The settings as the inputs hold them.
  NetSettings entered() const;
  void accept() override;

 private:
  // A key of the file, the input it comes from and how two settings compare on it.
  struct Key {
    const char* section;
    const char* key;
    QWidget* input;
    QString caption;
    std::function<bool(const NetSettings&, const NetSettings&)> same;
  };

  void buildMqtt(QFormLayout* form);
  void buildModbus(QFormLayout* form);
  void buildHttp(QFormLayout* form);
  void load(const NetSettings& s);
  // The message for the first value the file cannot hold or its reader refuses; empty if none.
  QString refusal(QWidget** input) const;
  // Looks up the bind names of the servers ticked, from the first in names on, then writes;
  // a name that names nothing is refused and nothing is written.
  struct BindName {
    QString caption;
    std::string name;
    QLineEdit* input;
  };
  void lookUpThenWrite(const NetSettings& wanted, std::vector<BindName> names);
  // Writes the file and restarts publishing; the dialog closes unless the write failed.
  void write(const NetSettings& settings);
  void browseCaFile();

  std::string path_;
  Toolkit& toolkit_;
  std::function<void()> restart_;
  std::vector<Key> keys_;
  QCheckBox* mqttEnabled_ = nullptr;
  QLineEdit* host_ = nullptr;
  QSpinBox* mqttPort_ = nullptr;
  QLineEdit* prefix_ = nullptr;
  QLineEdit* clientId_ = nullptr;
  QLineEdit* username_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* caFile_ = nullptr;
  QComboBox* qos_ = nullptr;
  QSpinBox* heartbeat_ = nullptr;
  QCheckBox* commands_ = nullptr;
  QCheckBox* modbusEnabled_ = nullptr;
  QLineEdit* bind_ = nullptr;
  QSpinBox* modbusPort_ = nullptr;
  QCheckBox* httpEnabled_ = nullptr;
  QLineEdit* httpBind_ = nullptr;
  QSpinBox* httpPort_ = nullptr;
  QLineEdit* httpHosts_ = nullptr;
  QLineEdit* token_ = nullptr;
  QCheckBox* httpCommands_ = nullptr;
  QPushButton* ok_ = nullptr;    // off while the bind address is looked up
  QLabel* lookingUp_ = nullptr;  // says so meanwhile
  CaptureSettings captures_;     // not in the dialog: written back as read
};

}  // namespace trv4
