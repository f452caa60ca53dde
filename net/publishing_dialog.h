// "Publishing": the dialog that edits TRV4NET.INI. It opens with what the file holds (the
// defaults when there is none); OK checks the values as the file's reader does (and a Modbus or
// HTTP bind address as the server does), writes the file and restarts publishing with it; Cancel
// changes nothing. It deletes itself when closed.
#pragma once

#include <QDialog>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "net/net_settings.h"
#include "net/net_settings_keys.h"

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace trv4 {

class PublishingDialog : public QDialog {
  Q_OBJECT

 public:
  // path: the settings file; restart: publishing starts again with the file just written.
  PublishingDialog(std::string path, Toolkit& toolkit, std::function<void()> restart,
                   QWidget* parent = nullptr);

  // The settings as the inputs hold them.
  NetSettings entered() const;
  // The first value entered that the file's reader would refuse or read back otherwise: its key
  // and the message; no key if there is none.
  struct Refusal {
    const SettingKey* key = nullptr;
    QString message;
  };
  Refusal refusal() const;
  void accept() override;

 private:
  // An input for a key of the file, in the table of the dialog's inputs.
  struct Input;
  static std::span<const Input> inputs();
  // An input as built: the key it edits, its widget (as the key's kind calls for) and the name
  // it is known by.
  struct Field {
    const SettingKey* key;
    QWidget* input;
    QString spoken;
  };

  void build(const Input& in, QFormLayout* form);
  QWidget* makeInput(const SettingKey& key, const Input& in);
  const Field& field(const SettingKey* key) const;
  QPushButton* browseButton(QLineEdit* caFile);
  QPushButton* newTokenButton(QLineEdit* token);
  void load(const NetSettings& s);
  // Looks up the bind names of the servers ticked, from the first in names on, then writes;
  // a name that names nothing is refused and nothing is written.
  struct BindName {
    QString caption;
    std::string name;
    QWidget* input;
  };
  void lookUpThenWrite(const NetSettings& wanted, std::vector<BindName> names);
  // Writes the file and restarts publishing; the dialog closes unless the write failed.
  void write(const NetSettings& settings);

  std::string path_;
  Toolkit& toolkit_;
  std::function<void()> restart_;
  std::vector<Field> fields_;
  NetSettings loaded_;           // keys not in the dialog are written back as read
  QPushButton* ok_ = nullptr;    // off while the bind address is looked up
  QLabel* lookingUp_ = nullptr;  // says so meanwhile
};

}  // namespace trv4
