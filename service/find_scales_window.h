// "Find Scales": runs the search, shows its progress and what answered, and makes the found
// scales the polled set ("Poll these", "Undo").
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "service/scale_finder.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace trv4 {

class FindScalesWindow : public QWidget {
  Q_OBJECT

 public:
  // blocker: why a search may not start now ("" when it may), e.g. a calibration running.
  FindScalesWindow(std::unique_ptr<ScaleFinder> finder, std::function<std::string()> blocker,
                   QWidget* parent);
  ~FindScalesWindow() override;

  ScaleFinder& finder() { return *finder_; }

 private:
  void search();
  void showProgress();
  void showFound();
  void updateButtons();

  std::unique_ptr<ScaleFinder> finder_;
  std::function<std::string()> blocker_;
  QCheckBox* everyRate_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* search_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* poll_ = nullptr;
  QPushButton* undo_ = nullptr;
};

}  // namespace trv4
