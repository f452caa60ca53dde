#include "service/param_file_dialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/widget_file_name.h"
#include "base/widget_text.h"
#include "service/param_file.h"
#include "service/save_text_file.h"

namespace trv4 {

namespace {

const QString kFilter = QObject::tr("Parameter files (*.txt);;All files (*)");

// A parameter file chosen by the operator and checked; nullopt (and the reason told) else.
std::optional<ParamFile> chooseFile(QWidget* parent, const QString& caption) {
  const QString path = QFileDialog::getOpenFileName(parent, caption, QString(), kFilter, nullptr,
                                                    QFileDialog::DontUseNativeDialog);
  if (path.isEmpty()) return std::nullopt;
  std::string error;
  std::optional<ParamFile> file = readParamFile(fileNameFromWidget(path), &error);
  if (!file)
    QMessageBox::warning(
        parent, caption,
        QString::fromStdString(error) + "\n" + QObject::tr("Nothing was changed."));
  return file;
}

}  // namespace

void saveParamsDialog(QWidget* parent, const Param& param, const std::string& savedAt) {
  // Halfway through an upload the window holds values of two different moments.
  if (param.busy()) {
    QMessageBox::information(parent, QObject::tr("Save Parameters"),
                             QObject::tr("A parameter exchange is running."));
    return;
  }
  const QString name =
      QStringLiteral("scale-%1-parameters.txt").arg(fromCodePage(param.value("vScaleAddr")));
  saveTextFile(parent, QObject::tr("Save Parameters"), name, kFilter,
               paramFileText(param, savedAt));
}

void loadParamsDialog(QWidget* parent, Param& param) {
  const QString caption = QObject::tr("Load Parameters");
  if (param.busy()) {
    QMessageBox::information(parent, caption, QObject::tr("A parameter exchange is running."));
    return;
  }
  const std::optional<ParamFile> file = chooseFile(parent, caption);
  if (!file || param.busy()) return;
  QString kept;
  for (const ParamDifference& d : compareParamFile(param, *file))
    if (!d.loaded) kept += QString::fromStdString(d.caption) + QStringLiteral(", ");
  loadParamFile(param, *file);
  QString told = QObject::tr(
      "The window holds the file's settings now. Nothing was sent: the "
      "download buttons write them to the scale.");
  if (!kept.isEmpty())
    told +=
        "\n" + QObject::tr("Kept as they were, as they set how the scale talks on this line: %1.")
                   .arg(kept.chopped(2));
  QMessageBox::information(parent, caption, told);
}

void compareParamsDialog(QWidget* parent, const Param& param) {
  const QString caption = QObject::tr("Compare Parameters");
  const std::optional<ParamFile> file = chooseFile(parent, caption);
  if (!file) return;
  const std::vector<ParamDifference> differences = compareParamFile(param, *file);
  if (differences.empty()) {
    QMessageBox::information(parent, caption,
                             QObject::tr("No differences: the window holds the file's settings."));
    return;
  }
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("CompareParams"));
  dialog.setWindowTitle(caption);
  auto* heading = new QLabel(
      QObject::tr("%n setting(s) differ from the file of scale %1 saved %2:", "",
                  static_cast<int>(differences.size()))
          .arg(QString::fromStdString(file->address), QString::fromStdString(file->savedAt)),
      &dialog);
  auto* table = new QTableWidget(static_cast<int>(differences.size()), 3, &dialog);
  table->setObjectName(QStringLiteral("DifferenceTable"));
  table->setAccessibleName(QObject::tr("Settings that differ"));
  table->setHorizontalHeaderLabels(
      {QObject::tr("Setting"), QObject::tr("Window"), QObject::tr("File")});
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  for (int r = 0; r < static_cast<int>(differences.size()); ++r) {
    const ParamDifference& d = differences[static_cast<std::size_t>(r)];
    QString caption = QString::fromStdString(d.caption);
    if (!d.loaded) caption += QObject::tr(" (the line's: Load keeps it)");
    table->setItem(r, 0, new QTableWidgetItem(caption));
    table->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(d.window)));
    table->setItem(r, 2, new QTableWidgetItem(QString::fromStdString(d.file)));
  }
  table->resizeColumnsToContents();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(heading);
  layout->addWidget(table, 1);
  layout->addWidget(buttons);
  dialog.resize(520, 360);
  dialog.exec();
}

}  // namespace trv4
