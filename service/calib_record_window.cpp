#include "service/calib_record_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/widget_text.h"
#include "service/calib_record.h"

namespace trv4 {

CalibRecordWindow::CalibRecordWindow(std::string path, QWidget* parent)
    : QWidget(parent, Qt::Window), path_(std::move(path)) {
  setObjectName(QStringLiteral("CalibRecord"));
  setWindowTitle(tr("Calibration Record"));
  setAttribute(Qt::WA_DeleteOnClose);

  table_ = new QTableWidget(0, kCalibRecordColumnCount, this);
  table_->setObjectName(QStringLiteral("RecordTable"));
  table_->setAccessibleName(tr("Calibration record"));
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  QStringList headers;
  for (const char* column : kCalibRecordColumns) headers << tr(column);
  table_->setHorizontalHeaderLabels(headers);

  auto* refreshButton = new QPushButton(tr("&Refresh"), this);
  refreshButton->setObjectName(QStringLiteral("RefreshCmd"));
  connect(refreshButton, &QPushButton::clicked, this, &CalibRecordWindow::refresh);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(refreshButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  resize(820, 360);
  refresh();
}

void CalibRecordWindow::refresh() {
  const auto rows = readCalibRecord(path_);
  table_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < kCalibRecordColumnCount; ++c) {
      const std::string& text = c < static_cast<int>(rows[r].size()) ? rows[r][c] : std::string();
      table_->setItem(r, c, new QTableWidgetItem(fromCodePage(text)));
    }
  }
  table_->resizeColumnsToContents();
  table_->scrollToBottom();
}

}  // namespace trv4
