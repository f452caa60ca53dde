// The "Communication Settings" dialog: frames of option buttons for the port and its line
// settings, OK and Cancel. It renders a CommSettingsModel and forwards the choices to it; opened
// non-modal, it deletes itself when closed.
#pragma once

#include <QDialog>
#include <array>
#include <functional>

#include "app/comm_settings_model.h"

class QButtonGroup;

namespace trv4 {

class CommSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // saveSettings rewrites the configuration file (Configuration::SaveSettings).
  CommSettingsDialog(SerialPort& port, Toolkit& toolkit, std::function<void()> saveSettings,
                     QWidget* parent = nullptr);

  const CommSettingsModel& model() const { return model_; }

 private:
  void render();
  void okClicked();

  CommSettingsModel model_;
  // The option buttons of each group, by their index in it.
  std::array<QButtonGroup*, CommSettingsModel::kGroupCount> groups_{};
  bool rendering_ = false;  // options marked by render() choose nothing
};

}  // namespace trv4
