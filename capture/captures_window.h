// "Captures": the journal as a table, newest capture first, a Capture button for the scale chosen
// in the single-scale window (its result in the window's status line) and Export CSV. The table
// is read again when a capture is committed and when the number waiting for delivery changes.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "capture/capture_desk.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace trv4 {

// Rows the table shows at most; Export CSV writes every capture.
inline constexpr std::size_t kCapturesShown = 1000;

class CapturesWindow : public QWidget {
  Q_OBJECT

 public:
  // selection(): the address chosen in the single-scale window, "A".."^" or "@".
  CapturesWindow(CaptureDesk& desk, std::function<std::string()> selection, QWidget* parent);
  ~CapturesWindow() override;

  // Reads the newest captures again.
  void refresh();

 private:
  void takeCapture();
  void exportCsv();

  CaptureDesk& desk_;
  std::function<std::string()> selection_;
  QTableWidget* table_ = nullptr;
  QPushButton* capture_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* waiting_ = nullptr;
  QTimer* timer_ = nullptr;
  int listener_ = -1;
  std::size_t waitingShown_ = 0;
};

}  // namespace trv4
