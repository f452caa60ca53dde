#include "service/link_stats_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "service/line_report.h"
#include "service/refresh_while_shown.h"
#include "service/save_text_file.h"

namespace trv4 {

namespace {
constexpr int kRefreshMs = 500;  // twice a second: each refresh repaints the changed cells
}

LinkStatsWindow::LinkStatsWindow(LinkStats& stats, QWidget* parent)
    : QWidget(parent, Qt::Window), stats_(stats) {
  setObjectName(QStringLiteral("LinkStats"));
  setWindowTitle(tr("Link Statistics"));
  setAttribute(Qt::WA_DeleteOnClose);

  const auto& columns = statsColumns();
  table_ = new QTableWidget(kMaxScales + 1, static_cast<int>(columns.size()), this);
  table_->setObjectName(QStringLiteral("StatsTable"));
  table_->setAccessibleName(tr("Exchange counters of every scale and of the line"));
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  QStringList headers;
  for (const std::string& c : columns) headers << QString::fromStdString(c);
  table_->setHorizontalHeaderLabels(headers);
  for (int r = 0; r <= kMaxScales; ++r)
    for (int c = 0; c < table_->columnCount(); ++c) table_->setItem(r, c, new QTableWidgetItem);

  auto* reset = new QPushButton(tr("&Reset"), this);
  reset->setObjectName(QStringLiteral("ResetCmd"));
  connect(reset, &QPushButton::clicked, this, [this] {
    stats_.reset();
    refresh();
  });
  auto* save = new QPushButton(tr("&Save…"), this);
  save->setObjectName(QStringLiteral("SaveCmd"));
  connect(save, &QPushButton::clicked, this, [this] {
    saveTextFile(this, tr("Save Link Statistics"), QStringLiteral("link-statistics.csv"),
                 tr("CSV files (*.csv);;All files (*)"), statsCsv(stats_, stats_.now()));
  });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(reset);
  buttons->addWidget(save);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);

  new RefreshWhileShown(this, kRefreshMs, [this] { refresh(); });
  refresh();
  table_->resizeColumnsToContents();
  resize(1000, 420);
}

void LinkStatsWindow::refresh() {
  const int64_t now = stats_.now();
  for (int r = 0; r <= kMaxScales; ++r) {
    // A scale that never took part in an exchange has no row to show.
    if (r < kMaxScales) {
      const ScaleCounters& c = stats_.scale(r);
      table_->setRowHidden(r, c.sentCount() == 0 && c.replies == 0 && c.badFrames() == 0);
    }
    const std::vector<std::string> row = r < kMaxScales
                                             ? statsRow(scaleName(r), stats_.scale(r), now)
                                             : statsRow("Line", stats_.totals(), now);
    for (int c = 0; c < static_cast<int>(row.size()); ++c) {
      QTableWidgetItem* item = table_->item(r, c);
      const QString text = QString::fromStdString(row[c]);
      if (item->text() != text) item->setText(text);
    }
  }
}

}  // namespace trv4
