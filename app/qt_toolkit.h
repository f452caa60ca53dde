// The toolkit services on Qt: precise QTimers, the event loop, QMessageBox, QInputDialog and the
// override cursor.
#pragma once

#include <QString>

#include "base/toolkit.h"

class QWidget;

namespace trv4 {

class QtToolkit : public Toolkit {
 public:
  // title: the caption of OK message boxes.
  explicit QtToolkit(QString title);

  std::unique_ptr<Timer> createTimer(std::function<void()> onTick) override;
  void yield() override;
  void messageBox(const std::string& text) override;
  bool askYesNo(const std::string& text, const std::string& title) override;
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;
  std::string fileNameBox(const std::string& prompt, const std::string& title,
                          const std::string& defaultName) override;
  void setBusy(bool busy) override;
  ClockText clockText() override;
  int64_t steadyMs() override;
  int64_t wallMs() override;

  // Parent of the modal boxes (the main window, once it exists).
  void setDialogParent(QWidget* parent) { parent_ = parent; }

 private:
  QString title_;
  QWidget* parent_ = nullptr;
  int busyDepth_ = 0;
};

}  // namespace trv4
