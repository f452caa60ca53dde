// The monitor window: thirty panels showing a MonitorModel. It only renders the model and
// forwards double-clicks; the owner calls model.load() when it creates the window.
#pragma once

#include <QLabel>
#include <QWidget>
#include <array>
#include <optional>

#include "display/cached_label.h"
#include "display/monitor_model.h"

namespace trv4 {

class MonitorWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MonitorWindow(MonitorModel& model, QWidget* parent = nullptr);
  ~MonitorWindow() override;

  QSize sizeHint() const override;

  // The controls of panel i (0..29), for the owner and for checks.
  QLabel* addressLabel(int i) const { return panels_.at(i).address; }  // ScaleAddr
  QLabel* weightLabel(int i) const { return panels_.at(i).weight; }    // WDisp
  QLabel* netLabel(int i) const { return panels_.at(i).net; }          // NetLbl
  QLabel* motionLabel(int i) const { return panels_.at(i).motion; }    // MotLbl

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Panel {
    CachedLabel* address = nullptr;
    QLabel* weight = nullptr;
    QLabel* net = nullptr;
    QLabel* motion = nullptr;
    std::optional<MonitorPanel> shown;  // what the labels show now
  };

  void refresh(int i);

  MonitorModel& model_;
  std::array<Panel, kMaxScales> panels_;
};

}  // namespace trv4
