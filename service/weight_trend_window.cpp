#include "service/weight_trend_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>

namespace trv4 {

namespace {

// Once a second at most: a chart's redraw is the costliest thing the window does, and a trend
// over minutes moves by less than a pixel column a second.
constexpr int kRedrawMs = 1000;
// Points drawn per line at most; more are thinned out evenly.
constexpr std::size_t kMaxDrawn = 600;
constexpr int kRangeMinutes[] = {1, 10, 60};
constexpr int kDefaultTicked = 4;

QColor scaleColor(int scale) {
  static const QColor colors[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                                  QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
                                  QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                  QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f),
                                  QColor(0xbc, 0xbd, 0x22), QColor(0x17, 0xbe, 0xcf)};
  return colors[scale % 10];
}

}  // namespace

WeightTrendWindow::WeightTrendWindow(MonitorModel& monitor, Toolkit& toolkit, QWidget* parent)
    : QWidget(parent, Qt::Window), monitor_(monitor), trend_(toolkit) {
  setObjectName(QStringLiteral("WeightTrend"));
  setWindowTitle(tr("Weight Trend"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* scalesLabel = new QLabel(tr("S&cales:"), this);
  scales_ = new QListWidget(this);
  scales_->setObjectName(QStringLiteral("TrendScales"));
  scales_->setAccessibleName(tr("Scales drawn"));
  scalesLabel->setBuddy(scales_);
  scales_->setMaximumWidth(90);
  int ticked = 0;
  for (int i = 0; i < kMaxScales; ++i) {
    auto* item = new QListWidgetItem(QString(QChar(scaleAddress(i))), scales_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    // The first polled scales are drawn from the start.
    const bool tick = monitor_.panel(i).addressEnabled && ticked < kDefaultTicked;
    ticked += tick;
    item->setCheckState(tick ? Qt::Checked : Qt::Unchecked);
    item->setForeground(scaleColor(i));
  }
  connect(scales_, &QListWidget::itemChanged, this, [this] {
    dirty_ = true;
    redraw();
  });

  auto* rangeLabel = new QLabel(tr("&Range:"), this);
  range_ = new QComboBox(this);
  range_->setObjectName(QStringLiteral("TrendRange"));
  range_->setAccessibleName(tr("Range"));
  rangeLabel->setBuddy(range_);
  range_->addItems({tr("1 minute"), tr("10 minutes"), tr("60 minutes")});
  range_->setCurrentIndex(0);
  connect(range_, &QComboBox::currentIndexChanged, this, [this] {
    dirty_ = true;
    redraw();
  });
  pause_ = new QCheckBox(tr("&Pause"), this);
  pause_->setObjectName(QStringLiteral("TrendPause"));
  connect(pause_, &QCheckBox::toggled, this, [this](bool paused) {
    if (!paused) redraw();
  });
  auto* save = new QPushButton(tr("Save as P&NG…"), this);
  save->setObjectName(QStringLiteral("TrendSave"));
  connect(save, &QPushButton::clicked, this, &WeightTrendWindow::savePicture);

  chart_ = new QChart;
  chart_->legend()->setAlignment(Qt::AlignBottom);
  timeAxis_ = new QDateTimeAxis(chart_);
  timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
  weightAxis_ = new QValueAxis(chart_);
  chart_->addAxis(timeAxis_, Qt::AlignBottom);
  chart_->addAxis(weightAxis_, Qt::AlignLeft);
  view_ = new QChartView(chart_, this);
  view_->setObjectName(QStringLiteral("TrendChart"));
  view_->setAccessibleName(tr("Weight trend chart"));
  view_->setRenderHint(QPainter::Antialiasing, false);

  auto* side = new QVBoxLayout;
  side->addWidget(scalesLabel);
  side->addWidget(scales_, 1);
  auto* controls = new QHBoxLayout;
  controls->addWidget(rangeLabel);
  controls->addWidget(range_);
  controls->addWidget(pause_);
  controls->addStretch(1);
  controls->addWidget(save);
  auto* main = new QVBoxLayout;
  main->addLayout(controls);
  main->addWidget(view_, 1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(side);
  layout->addLayout(main, 1);

  listener_ =
      monitor_.addShownListener([this](int i) { trend_.record(i, monitor_.panel(i).view.text); });
  timer_ = new QTimer(this);
  timer_->setInterval(kRedrawMs);
  connect(timer_, &QTimer::timeout, this, [this] {
    for (int i = 0; i < kMaxScales; ++i)
      dirty_ = trend_.takeNews(i) && scales_->item(i)->checkState() == Qt::Checked ? true : dirty_;
    if (dirty_) redraw();
  });
  timer_->start();
  resize(900, 520);
  redraw();
}

WeightTrendWindow::~WeightTrendWindow() {
  monitor_.removeShownListener(listener_);
}

QLineSeries* WeightTrendWindow::piece(int scale, std::size_t index) {
  std::vector<QLineSeries*>& pieces = pieces_[scale];
  while (pieces.size() <= index) {
    auto* series = new QLineSeries;
    series->setName(QString(QChar(scaleAddress(scale))));
    series->setPen(QPen(scaleColor(scale), 2));
    chart_->addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(weightAxis_);
    pieces.push_back(series);
  }
  return pieces[index];
}

void WeightTrendWindow::redraw() {
  if (pause_->isChecked()) return;
  dirty_ = false;
  const int64_t span = int64_t{kRangeMinutes[std::max(range_->currentIndex(), 0)]} * 60'000;
  const int64_t steadyNow = trend_.now();
  const qint64 wallNow = QDateTime::currentMSecsSinceEpoch();
  // Every line in the unit the panels show now, whatever unit a point was shown in.
  const int unit = trend_.unit();
  const QString unitText = unit == 0 ? QStringLiteral("kg") : QStringLiteral("lb");
  double low = INFINITY, high = -INFINITY;
  QString summary;
  for (int s = 0; s < kMaxScales; ++s) {
    std::size_t used = 0;
    if (scales_->item(s)->checkState() == Qt::Checked) {
      const std::vector<TrendPoint> points = trend_.points(s, span, unit);
      const std::size_t stride =
          std::max<std::size_t>(1, (points.size() + kMaxDrawn - 1) / kMaxDrawn);
      QList<QPointF> line;
      auto flush = [&] {
        if (line.isEmpty()) return;
        piece(s, used++)->replace(line);
        line.clear();
      };
      for (std::size_t i = 0; i < points.size(); ++i) {
        const TrendPoint& p = points[i];
        if (p.gap()) {
          flush();
          continue;
        }
        // Thinned evenly, but the last point before a gap or the end is always drawn.
        const bool last = i + 1 == points.size() || points[i + 1].gap();
        if (i % stride != 0 && !last) continue;
        line.append(QPointF(static_cast<qreal>(wallNow - (steadyNow - p.atMs)), p.value));
        low = std::min(low, p.value);
        high = std::max(high, p.value);
      }
      flush();
      if (!points.empty()) {
        const TrendPoint& p = points.back();
        summary += QStringLiteral("%1: %2; ")
                       .arg(QChar(scaleAddress(s)))
                       .arg(p.gap() ? tr("no weight") : QString::number(p.value) + ' ' + unitText);
      }
    }
    // Pieces not used now are emptied and left out of the legend.
    for (std::size_t i = 0; i < pieces_[s].size(); ++i) {
      if (i >= used) pieces_[s][i]->clear();
      for (QLegendMarker* m : chart_->legend()->markers(pieces_[s][i]))
        m->setVisible(i == 0 && used > 0);
    }
  }
  timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(wallNow - span),
                      QDateTime::fromMSecsSinceEpoch(wallNow));
  if (low > high) {
    low = 0;
    high = 1;
  }
  const double pad = high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(high) * 0.05);
  weightAxis_->setRange(low - pad, high + pad);
  weightAxis_->setTitleText(tr("Weight (%1)").arg(unitText));
  view_->setAccessibleDescription(summary.isEmpty() ? tr("No weights yet") : summary);
}

void WeightTrendWindow::savePicture() {
  const QString caption = tr("Save as PNG");
  const QString path = QFileDialog::getSaveFileName(
      this, caption, QStringLiteral("weight-trend.png"), tr("PNG pictures (*.png)"), nullptr,
      QFileDialog::DontUseNativeDialog);
  if (path.isEmpty()) return;
  // The picture goes to a new file that replaces the old one only once it is whole.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || !view_->grab().save(&file, "PNG") || !file.commit())
    QMessageBox::warning(
        this, caption,
        tr("Can not write %1: %2. Nothing was changed.").arg(path, file.errorString()));
}

}  // namespace trv4
