// "Weight Trend": a chart of the weights the monitor shows for the scales ticked, over the last
// 1, 10 or 60 minutes. It records while it is open, redraws once a second when something new
// came in, and can be paused (recording goes on) and saved as a PNG picture.
#pragma once

#include <QWidget>
#include <array>
#include <vector>

#include "display/monitor_model.h"
#include "service/weight_trend.h"

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QListWidget;
class QTimer;
class QValueAxis;

namespace trv4 {

class WeightTrendWindow : public QWidget {
  Q_OBJECT

 public:
  WeightTrendWindow(MonitorModel& monitor, Toolkit& toolkit, QWidget* parent);
  ~WeightTrendWindow() override;

  const WeightTrend& trend() const { return trend_; }
  // Draws the ticked scales' points of the chosen range now.
  void redraw();

 private:
  void savePicture();
  // The line pieces of a scale, between its gaps; more are made as needed.
  QLineSeries* piece(int scale, std::size_t index);

  MonitorModel& monitor_;
  WeightTrend trend_;
  int listener_ = 0;
  bool dirty_ = true;
  QListWidget* scales_ = nullptr;
  QComboBox* range_ = nullptr;
  QCheckBox* pause_ = nullptr;
  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  QDateTimeAxis* timeAxis_ = nullptr;
  QValueAxis* weightAxis_ = nullptr;
  QTimer* timer_ = nullptr;
  std::array<std::vector<QLineSeries*>, kMaxScales> pieces_;
};

}  // namespace trv4
