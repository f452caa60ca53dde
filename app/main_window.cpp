#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProxyStyle>
#include <QStatusBar>
#include <QStyleOptionMenuItem>

#include "app/about_box.h"
#include "app/app_icon.h"
#include "app/comm_settings_dialog.h"
#include "app/qt_toolkit.h"
#include "base/value_label.h"
#include "calib/calib_window.h"
#include "capture/captures_window.h"
#include "display/monitor_window.h"
#include "display/single_scale_window.h"
#include "net/publishing.h"
#include "net/publishing_dialog.h"
#include "params/param_window.h"
#include "service/calib_record_window.h"
#include "service/find_scales_window.h"
#include "service/link_stats_window.h"
#include "service/param_file_dialogs.h"
#include "service/traffic_window.h"
#include "service/weight_trend_window.h"

namespace trv4 {

namespace {

// Design-time text of the status bar, after the copyright sign and three blanks.
const QString kStatusText = QStringLiteral("\u00a9   Dravmet Gmbh");

// Styles draw no check mark on an entry of the menu bar itself. "Log" is such an entry, so while
// it is checked it is drawn pressed: the operator sees that a log runs.
class MenuBarStyle : public QProxyStyle {
 public:
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* bar = qobject_cast<const QMenuBar*>(widget);
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element == CE_MenuBarItem && bar && item) {
      const QAction* action = bar->actionAt(item->rect.center());
      if (action && action->isChecked()) {
        QStyleOptionMenuItem pressed(*item);
        pressed.state |= State_Selected | State_Sunken;
        QProxyStyle::drawControl(element, &pressed, painter, widget);
        return;
      }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }
};

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
  describeValue(status, QStringLiteral("Status bar"));
  statusBar()->addWidget(status, 1);

  buildMenu();
  resize(680, 620);
  toolkit_.setDialogParent(this);

  // The monitor opens at its first use, right after start-up, and again after being closed.
  app_.monitor().onLoad = [this] { showMonitor(); };
  if (app_.monitor().loaded()) showMonitor();
  oneUnit_ = new OneUnitWindow(app_.oneUnit(), this);
  new CalibWindow(app_.calib(), this);
}

MainWindow::~MainWindow() {
  // The parameter window goes first, so its logic is destroyed while the application is whole.
  delete param_;
  app_.monitor().onLoad = nullptr;
  app_.weightLog().onActiveChanged = nullptr;
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (oneUnit_ && !oneUnit_->isVisible()) {
    // Beside the main window's top right corner, where it does not hide the monitor.
    const QRect frame = frameGeometry();
    oneUnit_->move(frame.right() + 8, frame.top());
    oneUnit_->show();
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing the main window ends the program, whatever other windows are open.
  event->accept();
  quit();
}

void MainWindow::quit() {
  // A calibration waiting inside a menu click ends first, so the event loop can return.
  app_.quitting();
  QCoreApplication::exit(0);
}

QAction* MainWindow::addEntry(QWidget* menu, const char* name, const QString& caption) {
  auto* action = new QAction(caption, this);
  action->setObjectName(QString::fromLatin1(name));
  menu->addAction(action);
  return action;
}

void MainWindow::buildMenu() {
  QMenuBar* bar = menuBar();
  auto* style = new MenuBarStyle;
  style->setParent(bar);
  bar->setStyle(style);

  connect(addEntry(bar, "mSettings", tr("Settings")), &QAction::triggered, this,
          &MainWindow::openSettings);
  connect(addEntry(bar, "mParam", tr("Parameters")), &QAction::triggered, this,
          &MainWindow::openParam);

  // Each entry runs its procedure to the end inside its click: the waits yield to the event loop,
  // so the windows and the scan cycle go on meanwhile.
  QMenu* calib = bar->addMenu(tr("Calibration"));
  calib->setObjectName(QStringLiteral("mCalib"));
  QMenu* weight = calib->addMenu(tr("Weight"));
  weight->setObjectName(QStringLiteral("mWCalib"));
  QMenu* electronic = calib->addMenu(tr("Electronic"));
  electronic->setObjectName(QStringLiteral("mECalib"));
  const struct {
    QMenu* menu;
    const char* name;
    const char* caption;
    void (Calib::*procedure)();
  } procedures[] = {
      {weight, "mWCorner", "Corner", &Calib::WCornerCalib},
      {weight, "mWZero", "Zero", &Calib::WZeroCalib},
      {weight, "mWSpan", "Span", &Calib::WSpanCalib},
      {electronic, "mECorner", "Corner", &Calib::ECornerCalib},
      {electronic, "mEZero", "Zero", &Calib::EZeroCalib},
      {electronic, "mESpan", "Span", &Calib::ESpanCalib},
  };
  for (const auto& p : procedures) {
    Calib& model = app_.calib();
    const auto procedure = p.procedure;
    connect(addEntry(p.menu, p.name, tr(p.caption)), &QAction::triggered, this,
            [&model, procedure] { (model.*procedure)(); });
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

  log_ = addEntry(bar, "mWLog", tr("Log"));
  log_->setCheckable(true);
  // The check mark shows exactly while a log runs, also when a failed write stops it.
  app_.weightLog().onActiveChanged = [this](bool active) {
    log_->setChecked(active);
    menuBar()->update();
  };
  connect(log_, &QAction::triggered, this, [this] {
    log_->setChecked(app_.weightLog().LogActive());
    app_.mWLog_Click();
  });
  connect(addEntry(bar, "mAbout", tr("About")), &QAction::triggered, this, &MainWindow::openAbout);
  connect(addEntry(bar, "mExit", tr("Exit")), &QAction::triggered, this, &MainWindow::quit);
  buildServiceMenu(bar);
}

void MainWindow::buildServiceMenu(QMenuBar* bar) {
  QMenu* service = bar->addMenu(tr("Service"));
  service->setObjectName(QStringLiteral("mService"));
  connect(addEntry(service, "mFindScales", tr("Find Scales")), &QAction::triggered, this, [this] {
    showTool(findScales_, [this] {
      auto finder = std::make_unique<ScaleFinder>(*app_.link(), app_.port(), toolkit_, app_.state(),
                                                  app_.monitor(), app_.displaySettings());
      return new FindScalesWindow(
          std::move(finder),
          [this] {
            if (app_.calib().running()) return std::string(kCalibBusyMessage);
            if (app_.param() && app_.param()->busy()) return std::string(kParamBusyMessage);
            return std::string();
          },
          this);
    });
  });
  connect(addEntry(service, "mLinkStats", tr("Link Statistics")), &QAction::triggered, this,
          [this] {
            showTool(linkStats_, [this] { return new LinkStatsWindow(app_.linkStats(), this); });
          });
  connect(addEntry(service, "mTraffic", tr("Traffic Monitor")), &QAction::triggered, this, [this] {
    showTool(traffic_, [this] { return new TrafficWindow(app_.traffic(), this); });
  });
  connect(addEntry(service, "mWeightTrend", tr("Weight Trend")), &QAction::triggered, this, [this] {
    showTool(weightTrend_,
             [this] { return new WeightTrendWindow(app_.monitor(), toolkit_, this); });
  });
  connect(addEntry(service, "mCalibRecord", tr("Calibration Record")), &QAction::triggered, this,
          [this] {
            if (!calibRecord_)
              calibRecord_ = new CalibRecordWindow(app_.calibRecord().path(), this);
            calibRecord_->refresh();
            calibRecord_->show();
            calibRecord_->raise();
            calibRecord_->activateWindow();
          });
  connect(addEntry(service, "mCaptures", tr("Captures")), &QAction::triggered, this, [this] {
    if (captureDesk_ == nullptr) return;
    showTool(captures_, [this] {
      return new CapturesWindow(
          *captureDesk_, [this] { return app_.displaySettings().SingleScale; }, this);
    });
  });
  service->addSeparator();
  // The parameter files work on the parameter window that is open.
  QAction* saveParams = addEntry(service, "mSaveParams", tr("Save Parameters…"));
  QAction* loadParams = addEntry(service, "mLoadParams", tr("Load Parameters…"));
  QAction* compareParams = addEntry(service, "mCompareParams", tr("Compare Parameters…"));
  const auto openParam = [this]() -> Param* {
    return param_ && param_->isVisible() ? app_.param() : nullptr;
  };
  connect(service, &QMenu::aboutToShow, this, [=] {
    for (QAction* a : {saveParams, loadParams, compareParams})
      a->setEnabled(openParam() != nullptr);
  });
  connect(saveParams, &QAction::triggered, this, [this, openParam] {
    if (Param* p = openParam()) {
      const Toolkit::ClockText now = toolkit_.clockText();
      saveParamsDialog(this, *p, now.date + " " + now.time);
    }
  });
  connect(loadParams, &QAction::triggered, this, [this, openParam] {
    if (Param* p = openParam()) loadParamsDialog(this, *p);
  });
  connect(compareParams, &QAction::triggered, this, [this, openParam] {
    if (Param* p = openParam()) compareParamsDialog(this, *p);
  });
  service->addSeparator();
  connect(addEntry(service, "mPublishing", tr("Publishing…")), &QAction::triggered, this,
          &MainWindow::openPublishing);
}

void MainWindow::setCaptures(CaptureDesk* desk) {
  captureDesk_ = desk;
}

void MainWindow::setPublishing(Publishing* publishing, std::string path) {
  publishing_ = publishing;
  publishingPath_ = std::move(path);
}

void MainWindow::openPublishing() {
  if (publishingPath_.empty()) return;
  showTool(publishingDialog_, [this] {
    return new PublishingDialog(
        publishingPath_, toolkit_,
        [this] {
          if (publishing_ == nullptr) return;
          publishing_->stop();
          publishing_->start(publishingPath_);
        },
        this);
  });
}

void MainWindow::showTool(QPointer<QWidget>& tool, const std::function<QWidget*()>& make) {
  if (!tool) tool = make();
  tool->show();
  tool->raise();
  tool->activateWindow();
}

void MainWindow::showMonitor() {
  auto* monitor = new MonitorWindow(app_.monitor());
  QMdiSubWindow* sub = mdi_->addSubWindow(monitor);
  sub->setWindowIcon(windowIcon());
  sub->show();
}

void MainWindow::openParam() {
  // Closed, its deletion still pending in an outer event loop: it goes now, not after the
  // window shown here.
  if (param_ && param_->isHidden()) delete param_;
  if (param_) {
    // Open already, or still filling from its first upload: only brought to the front.
    param_->show();
    param_->raise();
    param_->activateWindow();
    return;
  }
  Param& param = app_.openParam();
  param_ = new ParamWindow(param, this);
  connect(param_, &QObject::destroyed, this, [this] { app_.closeParam(); });
  param_->show();
  param_->raise();
  param_->activateWindow();
  // The window fills while the operator sees it. The upload yields to the event loop; a second
  // "Parameters" meanwhile finds the window above and only raises it.
  param.UploadParam();
}

void MainWindow::openSettings() {
  if (!settings_) {
    settings_ = new CommSettingsDialog(
        app_.port(), toolkit_, [this] { app_.config().SaveSettings(); }, this);
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
