#include "service/traffic_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "service/line_report.h"
#include "service/refresh_while_shown.h"
#include "service/save_text_file.h"

namespace trv4 {

namespace {

// Twice a second: each look scrolls the whole view, the costliest thing the window does.
constexpr int kTrafficRefreshMs = 500;
// Widths of the view's columns but the last: time, direction, scale, kind, text, hex.
constexpr int kWidths[] = {13, 9, 6, 15, 30, 48};

QString padded(const std::vector<std::string>& fields) {
  QString line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const QString field = QString::fromStdString(fields[i]);
    line += i < std::size(kWidths) ? field.leftJustified(kWidths[i] - 1) + ' ' : field;
  }
  return line;
}

}  // namespace

std::vector<const TrafficEntry*> TrafficLog::takeNew() {
  std::vector<const TrafficEntry*> fresh;
  const uint64_t last = ring_.lastSequence();
  if (last == seen_) return fresh;
  // The entries after seen_ are at the ring's end.
  std::size_t first = ring_.size();
  while (first > 0 && ring_.at(first - 1).sequence > seen_) --first;
  seen_ = last;
  std::size_t added = 0;
  for (std::size_t i = first; i < ring_.size(); ++i) {
    const TrafficEntry& e = ring_.at(i);
    if (filter_ != kAll && e.scale != filter_) continue;
    rows_.push_back(e);
    ++added;
    if (rows_.size() > ring_.capacity()) rows_.pop_front();
  }
  for (std::size_t i = rows_.size() - std::min(added, rows_.size()); i < rows_.size(); ++i)
    fresh.push_back(&rows_[i]);
  return fresh;
}

void TrafficLog::setFilter(int scale) {
  filter_ = scale;
  rows_.clear();
  seen_ = 0;
  takeNew();
}

void TrafficLog::clear() {
  ring_.clear();
  rows_.clear();
  seen_ = ring_.lastSequence();
}

std::string TrafficLog::text() const {
  std::string out;
  for (const std::string& c : trafficColumns()) out += (out.empty() ? "" : "\t") + c;
  out += '\n';
  for (const TrafficEntry& e : rows_) out += trafficLine(e) + '\n';
  return out;
}

TrafficWindow::TrafficWindow(TrafficRing& ring, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(ring) {
  setObjectName(QStringLiteral("Traffic"));
  setWindowTitle(tr("Traffic Monitor"));
  setAttribute(Qt::WA_DeleteOnClose);

  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* heading = new QLabel(padded(trafficColumns()), this);
  heading->setObjectName(QStringLiteral("TrafficHeading"));
  heading->setFont(fixed);
  // A text view keeps each line laid out once, so scrolling in new frames costs little.
  view_ = new QPlainTextEdit(this);
  view_->setObjectName(QStringLiteral("TrafficView"));
  view_->setAccessibleName(tr("Frames on the line, newest last"));
  view_->setReadOnly(true);
  view_->setFont(fixed);
  view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  view_->setMaximumBlockCount(static_cast<int>(ring.capacity()));
  view_->setUndoRedoEnabled(false);
  view_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

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
  filter_->addItem(tr("All"), TrafficLog::kAll);
  for (int i = 0; i < kMaxScales; ++i) filter_->addItem(QString(QChar(scaleAddress(i))), i);
  filter_->addItem(QStringLiteral("@"), -1);
  connect(filter_, &QComboBox::currentIndexChanged, this, [this] {
    log_.setFilter(filter_->currentData().toInt());
    rebuild();
  });
  auto* clear = new QPushButton(tr("C&lear"), this);
  clear->setObjectName(QStringLiteral("ClearCmd"));
  connect(clear, &QPushButton::clicked, this, [this] {
    log_.clear();
    view_->clear();
  });
  auto* save = new QPushButton(tr("&Save…"), this);
  save->setObjectName(QStringLiteral("SaveCmd"));
  connect(save, &QPushButton::clicked, this, [this] {
    saveTextFile(this, tr("Save Traffic"), QStringLiteral("traffic.txt"),
                 tr("Text files (*.txt);;All files (*)"), log_.text());
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
  layout->addWidget(heading);
  layout->addWidget(view_, 1);

  new RefreshWhileShown(this, kTrafficRefreshMs, [this] { refresh(); });
  resize(1000, 560);
  log_.setFilter(TrafficLog::kAll);
  rebuild();
}

void TrafficWindow::rebuild() {
  QStringList lines;
  for (const TrafficEntry& e : log_.entries()) lines << padded(trafficRow(e));
  view_->setPlainText(lines.join('\n'));
  view_->moveCursor(QTextCursor::End);
}

void TrafficWindow::refresh() {
  if (pause_->isChecked()) return;
  const std::vector<const TrafficEntry*> fresh = log_.takeNew();
  if (fresh.empty()) return;
  QStringList lines;
  for (const TrafficEntry* e : fresh) lines << padded(trafficRow(*e));
  view_->appendPlainText(lines.join('\n'));
}

}  // namespace trv4
