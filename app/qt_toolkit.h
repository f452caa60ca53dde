// The toolkit services of the windowed program: the shared Qt timers and clock, and QMessageBox,
// QInputDialog and the override cursor.
#pragma once

#include <QString>

#include "base/qt_event_toolkit.h"

class QWidget;

namespace trv4 {

class QtToolkit : public QtEventToolkit {
 public:
  // title: the caption of OK message boxes.
  explicit QtToolkit(QString title);

  void messageBox(const std::string& text) override;
  bool askYesNo(const std::string& text, const std::string& title) override;
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;
  std::string fileNameBox(const std::string& prompt, const std::string& title,
                          const std::string& defaultName) override;
  void setBusy(bool busy) override;

  // Parent of the modal boxes (the main window, once it exists).
  void setDialogParent(QWidget* parent) { parent_ = parent; }

 private:
  QString title_;
  QWidget* parent_ = nullptr;
  int busyDepth_ = 0;
};

}  // namespace trv4
