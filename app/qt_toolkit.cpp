#include "app/qt_toolkit.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include "base/widget_file_name.h"
#include "base/widget_text.h"

namespace trv4 {

QtToolkit::QtToolkit(QString title) : title_(std::move(title)) {}

void QtToolkit::messageBox(const std::string& text) {
  // A plain box: the program's title, the text and OK, no icon.
  QMessageBox box(QMessageBox::NoIcon, title_, fromCodePage(text), QMessageBox::Ok, parent_);
  box.exec();
}

bool QtToolkit::askYesNo(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Question, fromCodePage(title), fromCodePage(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  return box.exec() == QMessageBox::Yes;
}

std::string QtToolkit::inputBox(const std::string& prompt, const std::string& title,
                                const std::string& defaultText) {
  bool ok = false;
  QString text = QInputDialog::getText(parent_, fromCodePage(title), fromCodePage(prompt),
                                       QLineEdit::Normal, fromCodePage(defaultText), &ok);
  return ok ? toCodePage(text) : std::string();
}

std::string QtToolkit::fileNameBox(const std::string& prompt, const std::string& title,
                                   const std::string& defaultName) {
  // File names go between the box and the file system as the system spells them, so a name the
  // code page cannot hold (a folder called "Wägung") survives both ways.
  bool ok = false;
  const QString text =
      QInputDialog::getText(parent_, fromCodePage(title), fromCodePage(prompt), QLineEdit::Normal,
                            fileNameForWidget(defaultName), &ok);
  return ok ? fileNameFromWidget(text) : std::string();
}

void QtToolkit::setBusy(bool busy) {
  if (busy) {
    if (busyDepth_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (busyDepth_ > 0) {
    if (--busyDepth_ == 0) QApplication::restoreOverrideCursor();
  }
}

}  // namespace trv4
