#include "app/main_window.h"

#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>

#include "app/about_box.h"
#include "app/app_icon.h"
#include "app/comm_settings_dialog.h"
#include "app/qt_toolkit.h"
#include "display/monitor_window.h"

namespace trv4 {

namespace {

// Design-time text of the status bar, after the copyright sign and three blanks.
const QString kStatusText = QStringLiteral("\u00a9   Dravmet Gmbh");

}  // namespace

MainWindow::MainWindow(Application& app, QtToolkit& toolkit) : app_(app), toolkit_(toolkit) {
  setObjectName(QStringLiteral("Menu"));
  setWindowTitle(QString::fromLatin1(kMainCaption));
  setWindowIcon(appIcon());

  mdi_ = new QMdiArea(this);
  setCentralWidget(mdi_);

  // A permanent label: status tips of the menu never replace the text.
  auto* status = new QLabel(kStatusText);
  status->setObjectName(QStringLiteral("StatusBar1"));
  statusBar()->addWidget(status, 1);

  buildMenu();
  showMonitor();
  resize(680, 620);
  toolkit_.setDialogParent(this);
}

QAction* MainWindow::addEntry(QWidget* menu, const char* name, const QString& caption) {
  auto* action = new QAction(caption, this);
  action->setObjectName(QString::fromLatin1(name));
  menu->addAction(action);
  return action;
}

void MainWindow::buildMenu() {
  QMenuBar* bar = menuBar();

  connect(addEntry(bar, "mSettings", tr("Settings")), &QAction::triggered, this,
          &MainWindow::openSettings);
  // Parameter and calibration windows are not part of this build yet: their entries are shown
  // but disabled.
  addEntry(bar, "mParam", tr("Parameters"))->setEnabled(false);

  QMenu* calib = bar->addMenu(tr("Calibration"));
  calib->setObjectName(QStringLiteral("mCalib"));
  QMenu* weight = calib->addMenu(tr("Weight"));
  weight->setObjectName(QStringLiteral("mWCalib"));
  QMenu* electronic = calib->addMenu(tr("Electronic"));
  electronic->setObjectName(QStringLiteral("mECalib"));
  for (auto [menu, prefix] : {std::pair{weight, "mW"}, std::pair{electronic, "mE"}}) {
    for (const char* entry : {"Corner", "Zero", "Span"}) {
      const std::string name = std::string(prefix) + entry;
      addEntry(menu, name.c_str(), tr(entry))->setEnabled(false);
    }
  }

  QMenu* commands = bar->addMenu(tr("Commands"));
  commands->setObjectName(QStringLiteral("mCommands"));
  connect(addEntry(commands, "mReset", tr("Reset")), &QAction::triggered, this,
          [this] { app_.mReset_Click(); });
  connect(addEntry(commands, "mAck", tr("ACK")), &QAction::triggered, this,
          [this] { app_.mAck_Click(); });
  connect(addEntry(commands, "mSYNC", tr("SYNC")), &QAction::triggered, this,
          [this] { app_.mSYNC_Click(); });
  singleScale_ = addEntry(commands, "mSingleScale", tr("Single Scale"));
  singleScale_->setCheckable(true);
  connect(singleScale_, &QAction::triggered, this, [this] {
    app_.mSingleScale_Click();
    singleScale_->setChecked(app_.singleScaleChecked());
  });

  addEntry(bar, "mWLog", tr("Log"))->setEnabled(false);
  connect(addEntry(bar, "mAbout", tr("About")), &QAction::triggered, this, &MainWindow::openAbout);
  connect(addEntry(bar, "mExit", tr("Exit")), &QAction::triggered, this,
          [] { QCoreApplication::exit(0); });
}

void MainWindow::showMonitor() {
  auto* monitor = new MonitorWindow(app_.monitor());
  QMdiSubWindow* sub = mdi_->addSubWindow(monitor);
  sub->setWindowIcon(windowIcon());
  sub->show();
}

void MainWindow::openSettings() {
  if (!settings_) {
    settings_ = new CommSettingsDialog(app_.port(), toolkit_,
                                       [this] { app_.config().SaveSettings(); }, this);
  }
  settings_->show();
  settings_->raise();
  settings_->activateWindow();
}

void MainWindow::openAbout() {
  if (!about_) about_ = new AboutBox(this);
  about_->show();
  about_->raise();
  about_->activateWindow();
}

}  // namespace trv4
