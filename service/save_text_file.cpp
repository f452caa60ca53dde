#include "service/save_text_file.h"

#include <QFileDialog>
#include <QMessageBox>

#include "base/whole_file.h"
#include "base/widget_file_name.h"

namespace trv4 {

bool saveTextFile(QWidget* parent, const QString& caption, const QString& suggestedName,
                  const QString& filter, const std::string& text) {
  const QString path = QFileDialog::getSaveFileName(parent, caption, suggestedName, filter, nullptr,
                                                    QFileDialog::DontUseNativeDialog);
  if (path.isEmpty()) return false;
  if (replaceWholeFile(fileNameFromWidget(path), text)) return true;
  QMessageBox::warning(parent, caption,
                       QObject::tr("Can not write %1: the folder can not be written or the disk "
                                   "is full. Nothing was changed.")
                           .arg(path));
  return false;
}

}  // namespace trv4
