// The calibration window: renders a Calib and forwards the operator's keys, edits and clicks to
// it. It lives as long as the main window and shows while a procedure runs. Closing it through
// its frame is taken as Stop: the waiting procedure ends at its next pass and sends nothing more.
#pragma once

#include <QWidget>
#include <optional>

#include "calib/calibration.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QToolButton;

namespace trv4 {

class CalibWindow : public QWidget {
  Q_OBJECT

 public:
  explicit CalibWindow(Calib& model, QWidget* parent = nullptr);
  ~CalibWindow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refresh();

  Calib& model_;
  QLabel* ask_ = nullptr;         // AskLbl
  QLineEdit* input_ = nullptr;    // AskTxt
  QToolButton* start_ = nullptr;  // StartCmd
  QToolButton* stop_ = nullptr;   // StopCmd
  QLabel* hint_ = nullptr;        // Label1
  QProgressBar* bar_ = nullptr;   // PBar
  std::optional<CalibView> shown_;
  bool rendering_ = false;  // the box set by refresh() forwards nothing
};

}  // namespace trv4
