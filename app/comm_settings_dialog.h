// The "Communication Settings" dialog: frames of option buttons for the port and its line
// settings, OK and Cancel. It renders a CommSettingsModel and forwards the choices to it; opened
// non-modal, it deletes itself when closed.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "app/comm_settings_model.h"

class QRadioButton;

namespace trv4 {

class CommSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // saveSettings rewrites the configuration file (Configuration::SaveSettings).
  CommSettingsDialog(SerialPort& port, Toolkit& toolkit, std::function<void()> saveSettings,
                     QWidget* parent = nullptr);

  const CommSettingsModel& model() const { return model_; }

 private:
  struct Option {
    CommSettingsModel::Group group;
    int index;
    QRadioButton* button;
  };

  void render();
  void okClicked();

  CommSettingsModel model_;
  std::vector<Option> options_;
  bool rendering_ = false;  // options marked by render() choose nothing
};

}  // namespace trv4
