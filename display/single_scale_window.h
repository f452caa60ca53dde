// The single-scale window ("TRV-4 Indicator"): renders a OneUnit and forwards the operator's
// choices and clicks to it. It has a fixed size and no close button: it lives as long as the
// program, like the selection the rest of the program reads from it.
#pragma once

#include <QWidget>
#include <optional>

#include "display/single_scale.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace trv4 {

class OneUnitWindow : public QWidget {
  Q_OBJECT

 public:
  explicit OneUnitWindow(OneUnit& model, QWidget* parent = nullptr);
  ~OneUnitWindow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void refresh();

  OneUnit& model_;
  QComboBox* step_ = nullptr;     // StepCombo
  QComboBox* address_ = nullptr;  // SingleScale
  QLabel* weight_ = nullptr;      // LDisp
  QLabel* net_ = nullptr;         // NetLbl
  QLabel* motion_ = nullptr;      // MotLbl
  QLabel* logging_ = nullptr;     // MsgLbl
  std::optional<OneUnitView> shown_;
};

}  // namespace trv4
