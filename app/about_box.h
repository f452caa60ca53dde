// The "About TRV-4" window: the program's icon, its name and its maker, and an OK button that
// closes it. Opened non-modal; it deletes itself when closed.
#pragma once

#include <QDialog>

namespace trv4 {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace trv4
