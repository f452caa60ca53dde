// The main window: a multiple-document frame with the menu, the status bar and the monitor
// window, shown together with the single-scale window. It renders the application and forwards
// menu choices to it.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <string>

#include "app/application.h"

class QAction;
class QMdiArea;
class QMenuBar;

namespace trv4 {

class CalibRecordWindow;
class CaptureDesk;
class Publishing;
class QtToolkit;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(Application& app, QtToolkit& toolkit);
  ~MainWindow() override;

  // "Service" → "Publishing…" edits the settings file at path and restarts publishing with it.
  void setPublishing(Publishing* publishing, std::string path);
  // "Service" → "Captures" shows the journal and captures through this desk.
  void setCaptures(CaptureDesk* desk);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* addEntry(QWidget* menu, const char* name, const QString& caption);
  void buildMenu();
  // "Service": the technician's tools, after the operator's entries.
  void buildServiceMenu(QMenuBar* bar);
  // Shows a service tool's window, making it first when it is not open.
  void showTool(QPointer<QWidget>& tool, const std::function<QWidget*()>& make);
  void showMonitor();
  void openSettings();
  void openAbout();
  void openParam();
  void openPublishing();
  void quit();

  Application& app_;
  QtToolkit& toolkit_;
  QMdiArea* mdi_ = nullptr;
  QPointer<QWidget> settings_;
  QPointer<QWidget> about_;
  QPointer<QWidget> oneUnit_;
  QPointer<QWidget> param_;
  QPointer<CalibRecordWindow> calibRecord_;
  QPointer<QWidget> findScales_;
  QPointer<QWidget> linkStats_;
  QPointer<QWidget> traffic_;
  QPointer<QWidget> weightTrend_;
  QPointer<QWidget> publishingDialog_;
  QPointer<QWidget> captures_;
  CaptureDesk* captureDesk_ = nullptr;
  Publishing* publishing_ = nullptr;
  std::string publishingPath_;
  QAction* singleScale_ = nullptr;
  QAction* log_ = nullptr;
};

}  // namespace trv4
