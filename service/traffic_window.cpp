#include "service/traffic_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "service/line_report.h"
#include "service/save_text_file.h"

namespace trv4 {

namespace {
constexpr int kRefreshMs = 250;
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(trafficColumns().size());
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
  const std::vector<std::string> row = trafficRow(rows_[static_cast<std::size_t>(index.row())]);
  return QString::fromStdString(row.at(static_cast<std::size_t>(index.column())));
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  return QString::fromStdString(trafficColumns().at(static_cast<std::size_t>(section)));
}

bool TrafficModel::takeNew() {
  const uint64_t last = ring_.lastSequence();
  if (last == seen_) return false;
  // The ring holds the newest entries; those after seen_ are at its end.
  std::size_t first = ring_.size();
  while (first > 0 && ring_.at(first - 1).sequence > seen_) --first;
  seen_ = last;
  std::vector<const TrafficEntry*> fresh;
  for (std::size_t i = first; i < ring_.size(); ++i)
    if (shown(ring_.at(i))) fresh.push_back(&ring_.at(i));
  if (fresh.empty()) return false;
  // The view keeps as many rows as the ring: the oldest go first.
  const std::size_t keep = ring_.capacity();
  const std::size_t total = rows_.size() + fresh.size();
  if (total > keep) {
    const std::size_t drop = std::min(rows_.size(), total - keep);
    if (drop > 0) {
      beginRemoveRows({}, 0, static_cast<int>(drop) - 1);
      rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(drop));
      endRemoveRows();
    }
  }
  const int from = static_cast<int>(rows_.size());
  beginInsertRows({}, from, from + static_cast<int>(fresh.size()) - 1);
  for (const TrafficEntry* e : fresh) rows_.push_back(*e);
  endInsertRows();
  return true;
}

void TrafficModel::setFilter(int scale) {
  beginResetModel();
  filter_ = scale;
  rows_.clear();
  seen_ = 0;
  endResetModel();
  takeNew();
}

void TrafficModel::clear() {
  beginResetModel();
  ring_.clear();
  rows_.clear();
  seen_ = ring_.lastSequence();
  endResetModel();
}

std::string TrafficModel::text() const {
  std::string out;
  for (const std::string& c : trafficColumns()) out += (out.empty() ? "" : "\t") + c;
  out += '\n';
  for (const TrafficEntry& e : rows_) out += trafficLine(e) + '\n';
  return out;
}

TrafficWindow::TrafficWindow(TrafficRing& ring, QWidget* parent)
    : QWidget(parent, Qt::Window), ring_(ring) {
  setObjectName(QStringLiteral("Traffic"));
  setWindowTitle(tr("Traffic Monitor"));
  setAttribute(Qt::WA_DeleteOnClose);

  model_ = new TrafficModel(ring, this);
  view_ = new QTableView(this);
  view_->setObjectName(QStringLiteral("TrafficTable"));
  view_->setAccessibleName(tr("Frames on the line, newest last"));
  view_->setModel(model_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  view_->horizontalHeader()->setStretchLastSection(true);

  pause_ = new QCheckBox(tr("&Pause"), this);
  pause_->setObjectName(QStringLiteral("PauseChk"));
  connect(pause_, &QCheckBox::toggled, this, [this](bool paused) {
    if (!paused) refresh();
  });
  auto* filterLabel = new QLabel(tr("&Scale:"), this);
  filter_ = new QComboBox(this);
  filter_->setObjectName(QStringLiteral("ScaleFilter"));
  filter_->setAccessibleName(tr("Scale"));
  filterLabel->setBuddy(filter_);
  filter_->addItem(tr("All"), TrafficModel::kAll);
  for (int i = 0; i < kMaxScales; ++i) filter_->addItem(QString(QChar(scaleAddress(i))), i);
  filter_->addItem(QStringLiteral("@"), -1);
  connect(filter_, &QComboBox::currentIndexChanged, this,
          [this] { model_->setFilter(filter_->currentData().toInt()); });
  auto* clear = new QPushButton(tr("C&lear"), this);
  clear->setObjectName(QStringLiteral("ClearCmd"));
  connect(clear, &QPushButton::clicked, this, [this] { model_->clear(); });
  auto* save = new QPushButton(tr("&Save…"), this);
  save->setObjectName(QStringLiteral("SaveCmd"));
  connect(save, &QPushButton::clicked, this, [this] {
    saveTextFile(this, tr("Save Traffic"), QStringLiteral("traffic.txt"),
                 tr("Text files (*.txt);;All files (*)"), model_->text());
  });

  auto* controls = new QHBoxLayout;
  controls->addWidget(filterLabel);
  controls->addWidget(filter_);
  controls->addWidget(pause_);
  controls->addStretch(1);
  controls->addWidget(clear);
  controls->addWidget(save);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(controls);
  layout->addWidget(view_, 1);

  timer_ = new QTimer(this);
  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, &TrafficWindow::refresh);
  resize(1000, 560);
  refresh();
  for (int c : {0, 1, 2, 3}) view_->resizeColumnToContents(c);
  view_->setColumnWidth(4, 300);
  view_->setColumnWidth(5, 380);
}

void TrafficWindow::refresh() {
  if (pause_->isChecked()) return;
  QScrollBar* bar = view_->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  if (model_->takeNew() && atEnd) view_->scrollToBottom();
}

void TrafficWindow::showEvent(QShowEvent* event) {
  refresh();
  timer_->start();
  QWidget::showEvent(event);
}

void TrafficWindow::hideEvent(QHideEvent* event) {
  timer_->stop();
  QWidget::hideEvent(event);
}

}  // namespace trv4
