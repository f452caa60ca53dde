// The windows on Qt's offscreen platform: what they show, forward and tell assistive technology.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <tuple>

#include "app/about_box.h"
#include "app/comm_settings_dialog.h"
#include "app/main_window.h"
#include "app/qt_toolkit.h"
#include "base/widget_text.h"
#include "calib/calib_window.h"
#include "display/monitor_window.h"
#include "display/single_scale_window.h"
#include "params/param_window.h"
#include "tests/support/sim_scales.h"

namespace trv4 {
namespace {

// Input controls have a caption label as buddy; a value label reads its value as name and what it
// is as description (rows: object name, description); pictures have a name.
void expectReadable(const QWidget* root, const std::vector<std::pair<QString, QString>>& rows) {
  QList<const QWidget*> captioned;
  for (const QLabel* label : root->findChildren<QLabel*>())
    if (!label->text().isEmpty()) captioned << label->buddy();
  size_t listed = 0;
  for (QWidget* w : root->findChildren<QWidget*>()) {
    const std::string name = w->objectName().toStdString();
    auto* label = qobject_cast<QLabel*>(w);
    auto* edit = qobject_cast<QLineEdit*>(w);
    const bool input =
        qobject_cast<QComboBox*>(w) || (edit && !qobject_cast<QComboBox*>(w->parentWidget()));
    EXPECT_TRUE(!input || captioned.contains(w)) << name << " uncaptioned";
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    const std::string shownName = iface->text(QAccessible::Name).toStdString();
    const std::string description = iface->text(QAccessible::Description).toStdString();
    const auto row = std::ranges::find(rows, w->objectName(), &std::pair<QString, QString>::first);
    if (row != rows.end()) {
      ++listed;
      const QString value = label ? label->text() : edit->text();
      EXPECT_FALSE(value.isEmpty()) << name;
      EXPECT_EQ(std::pair(shownName, description),
                std::pair(value.toStdString(), row->second.toStdString()));
    } else if (label && !label->buddy() && !name.ends_with("Label")) {
      EXPECT_TRUE(label->pixmap().isNull()
                      ? shownName == label->text().toStdString() && !description.empty()
                      : !shownName.empty())
          << name;
    }
  }
  EXPECT_EQ(listed, rows.size());
}

void key(QWidget* target, Qt::Key code, const QString& text) {
  for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
    QKeyEvent event(type, code, Qt::NoModifier, text);
    QApplication::sendEvent(target, &event);
  }
}

// The program in virtual time on a simulated port (no file: the port probe, A..H polled).
struct MainRig {
  MainRig() { EXPECT_TRUE(loaded); }
  ~MainRig() { std::filesystem::remove_all(dir); }
  QAction* entry(const char* name) { return window.findChild<QAction*>(name); }
  bool load() {
    std::filesystem::create_directories(dir);
    port.existingPorts = {1, 2, 3, 4, 5};
    const bool done = app.MDIForm_Load();
    tk.messages.clear();
    return done;
  }

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("trv4-widgets-" + std::to_string(getpid()));
  test::VirtualToolkit tk;
  test::SimSerialPort port{tk};
  Application app{port, tk, (dir / "TRV4.INI").string()};
  const bool loaded = load();
  QtToolkit qtToolkit{QStringLiteral("TRV4")};
  MainWindow window{app, qtToolkit};
};

// "Wägung", which the code page cannot hold, survives a file-name box both ways.
TEST(QtToolkit, FileNamesPassAsTheSystemsText) {
  QtToolkit toolkit(QStringLiteral("TRV4"));
  QString offered;
  const QString typed = QString::fromUtf8("/tmp/W\u00e4gung/\u0396.log");
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
      offered = box->textValue();
      box->setTextValue(typed);
      box->accept();
    }
  });
  answerer.start(5);
  EXPECT_EQ(toolkit.fileNameBox("Log File Name", "Weight Log", "/tmp/Jos\u00e9/TRV4W.Log"),
            "/tmp/W\u00e4gung/\u0396.log");
  EXPECT_EQ(offered, QString::fromUtf8("/tmp/Jos\u00e9/TRV4W.Log"));
}

// The character time-out, in real time: a busy machine can only make ticks late.
TEST(QtToolkit, ARestartedTimerTicksAWholeIntervalAfterItsLastRestartAndThenEveryInterval) {
  using Clock = std::chrono::steady_clock;
  const std::chrono::milliseconds interval(30), slack(1);
  QtToolkit toolkit(QStringLiteral("TRV4"));
  std::vector<Clock::time_point> ticks;
  auto timer = toolkit.createTimer([&] { ticks.push_back(Clock::now()); });
  timer->restart(30);
  const Clock::time_point first = Clock::now();
  while (Clock::now() < first + interval / 2) QCoreApplication::processEvents();
  ticks.clear();  // only a busy machine lets one through

  timer->restart(30);
  const Clock::time_point last = Clock::now();
  while (ticks.size() < 2 && Clock::now() < last + std::chrono::seconds(10))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  ASSERT_EQ(ticks.size(), 2u);
  EXPECT_GE(ticks[0] - last, interval);
  EXPECT_GE(ticks[1] - ticks[0], interval - slack);
}

// 600 baud shows but cannot be chosen; Escape keeps everything.
TEST(CommSettingsDialog, ShowsThePortsSettingsAndOkAppliesOptionsHoweverMarked) {
  test::VirtualToolkit toolkit;
  test::SimSerialPort port{toolkit};
  port.setSettings("600,N,8,1");
  std::vector<std::string> saved;  // the settings text the port holds at each save
  QPointer<CommSettingsDialog> dialog;
  const auto open = [&] {
    dialog = new CommSettingsDialog(port, toolkit, [&] { saved.push_back(port.settings()); });
    dialog->show();
  };
  const auto option = [&](const char* name) { return dialog->findChild<QRadioButton*>(name); };
  open();
  EXPECT_EQ(std::pair(option("Baud6")->isChecked(), option("Baud6")->isEnabled()),
            std::pair(true, false));
  option("Baud24")->click();
  key(dialog, Qt::Key_Escape, "");
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(std::tuple(dialog.isNull(), port.settings(), saved.size()),
            std::tuple(true, "600,N,8,1", 0u));

  open();
  for (QRadioButton* o : dialog->findChildren<QRadioButton*>())
    EXPECT_EQ(QAccessible::queryAccessibleInterface(o)->role(), QAccessible::RadioButton)
        << o->objectName().toStdString();
  QAccessible::queryAccessibleInterface(option("Baud19"))
      ->actionInterface()
      ->doAction(QAccessibleActionInterface::toggleAction());
  option("Data7")->click();
  option("EvenParity")->setFocus();
  key(option("EvenParity"), Qt::Key_Space, " ");
  dialog->findChild<QPushButton*>("OKButton")->click();
  EXPECT_EQ(saved, std::vector<std::string>{"19200,E,7,1"});
}

// Over scale A, whose baud rate the list does not offer. During the upload every button waits,
// closing is refused and a second Parameters entry only raises it.
TEST(ParamWindow, OpensOnceShowsTheScalesValuesAndPassesTypingOn) {
  MainRig rig;
  test::SimScales scales{rig.tk, rig.port};
  scales.scale('A')->calLock = true;
  rig.port.setSettings("4800,E,7,1");
  QAction* entry = rig.entry("mParam");
  const auto windows = [&] { return rig.window.findChildren<ParamWindow*>(); };
  bool duringUpload = false;
  rig.tk.schedule(rig.tk.now() + 10, [&] {
    duringUpload = true;
    ASSERT_EQ(windows().size(), 1);
    EXPECT_TRUE(windows().first()->isVisible());
    for (auto* button : windows().first()->findChildren<QPushButton*>())
      EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_FALSE(windows().first()->close());
    entry->trigger();
    EXPECT_EQ(windows().size(), 1);
  });
  entry->trigger();
  ASSERT_TRUE(duringUpload);
  QPointer<ParamWindow> window = windows().first();
  Param& param = *rig.app.param();
  EXPECT_EQ(std::tuple(window->findChild<QLabel*>("vCalLock")->isVisibleTo(window),
                       window->findChild<QLabel*>("vPinLock")->isVisibleTo(window),
                       window->findChild<QLabel*>("Corner(3)")->text()),
            std::tuple(true, false, fromCodePage(param.Corner(3))));
  expectReadable(window, {{"vCalLock", "Calibration lock"},
                          {"vATCounter", "Audit Trail Counter"},
                          {"Corner(3)", "Corner 4 factor"}});

  // A value outside the list shows as an extra last entry, which goes once a listed one is chosen.
  auto* baud = window->findChild<QComboBox*>("vBaud");
  EXPECT_EQ(std::pair(baud->count(), baud->currentText()), std::pair(7, QString("4800")));
  baud->setCurrentIndex(1);
  EXPECT_EQ(std::pair(param.value("vBaud"), baud->count()), std::pair(std::string("9600"), 6));

  // Typed text reaches the logic in the code page, and the repaint leaves the cursor where it is.
  auto* setpoint = window->findChild<QLineEdit*>("vSetp1");
  setpoint->setText(QString::fromUtf8("1Α"));
  setpoint->setCursorPosition(1);
  setpoint->insert("2");
  EXPECT_EQ(std::pair(param.value("vSetp1"), setpoint->cursorPosition()),
            std::pair(std::string("12\xC1"), 2));

  EXPECT_TRUE(window->close());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(std::tuple(window.isNull(), rig.app.param()), std::tuple(true, nullptr));
}

// The key filter's rules are the logic's; here a typed key reaches it, and Return is Start.
TEST(CalibWindow, ShowsWhileAProcedureRunsAndTakesKeysThroughItsFilter) {
  MainRig rig;
  auto* calib = rig.window.findChild<CalibWindow*>("Calib");
  ASSERT_NE(calib, nullptr);
  auto* box = calib->findChild<QLineEdit*>("AskTxt");
  auto* start = calib->findChild<QToolButton*>("StartCmd");
  auto* stop = calib->findChild<QToolButton*>("StopCmd");
  auto* bar = calib->findChild<QProgressBar*>("PBar");
  rig.app.oneUnit().selectScale("B");
  bool prompted = false;
  rig.tk.schedule(rig.tk.now() + 100, [&] {
    prompted = true;
    EXPECT_FALSE(stop->isVisible());
    expectReadable(calib, {{"AskLbl", "Prompt"}, {"Label1", "Hint"}});
    key(box, Qt::Key_1, "1");
    key(box, Qt::Key_Period, ".");
    EXPECT_EQ(std::pair(rig.tk.messages, box->text()),
              std::pair(std::vector<std::string>{"DECIMAL POINT NOT ALLOWED"}, QString()));
    key(box, Qt::Key_5, "5");
    key(box, Qt::Key_Return, "\r");
  });
  rig.tk.schedule(rig.tk.now() + 400, [&] {
    // Waiting for the scale: the stop sign, the bar, the box no longer takes input.
    EXPECT_TRUE(!start->isVisible() && stop->isVisible() && bar->isVisible() && !box->isEnabled());
    EXPECT_GT(bar->value(), 0);
    EXPECT_TRUE(calib->close());  // the frame's close button: taken as Stop
  });
  rig.entry("mWSpan")->trigger();
  EXPECT_TRUE(prompted);
  EXPECT_FALSE(calib->isVisible());
  EXPECT_FALSE(rig.app.calib().running());
}

TEST(MainWindow, TheSingleScaleWindowForwardsItsControlsAndEveryValueLabelReadsWhatItShows) {
  MainRig rig;
  auto* unit = rig.window.findChild<OneUnitWindow*>();
  rig.app.oneUnit().selectScale("C");
  unit->findChild<QComboBox*>("StepCombo")->setCurrentText("25");  // typed: taken as it is
  EXPECT_EQ(rig.app.displaySettings().StepCombo, "25");
  for (const auto& [button, command] :
       {std::pair{"Command2", "Z"}, {"Command4", "T"}, {"Command3", "G"}}) {
    unit->findChild<QPushButton*>(button)->click();
    EXPECT_EQ(rig.app.state().CommandQueue[2], command) << button;
  }
  unit->findChild<QPushButton*>("Command1")->click();
  EXPECT_EQ(rig.app.state().UnitFlag, 1);
  EXPECT_FALSE(unit->close());

  rig.app.oneUnit().selectScale("Z");  // not polled: its panel keeps the text it is given
  rig.app.monitor().DispWeight(25, std::string("\x01") + "R&\r\n1 ");
  rig.tk.advance(25);
  auto* monitor = rig.window.findChild<MonitorWindow*>();
  EXPECT_EQ(rig.window.findChild<QLabel*>("LDisp")->text(), "R&\uFFFD\uFFFD1 ");
  expectReadable(monitor, {{"WDisp(25)", "Weight of scale Z"},
                           {"ScaleAddr(25)", "Address of scale Z, not polled"},
                           {"ScaleAddr(0)", "Address of scale A, polled"}});
  expectReadable(unit, {{"LDisp", "Weight of the selected scale"}, {"MsgLbl", "Weight log"}});
  expectReadable(rig.window.statusBar(), {{"StatusBar1", "Status bar"}});
  AboutBox about;
  expectReadable(&about, {{"Label2", "Product"}, {"Label1", "Maker"}});
}

// The menu bar draws no check marks: a running log shows as a pressed "Log".
TEST(MainWindow, MonitorComesBackAfterClosingAndLogShowsItsCheckMark) {
  MainRig rig;
  auto* mdi = rig.window.findChild<QMdiArea*>();
  rig.tk.advance(1000);
  ASSERT_EQ(mdi->subWindowList().size(), 1);
  mdi->subWindowList().first()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(mdi->subWindowList().isEmpty());
  rig.tk.advance(25);  // its next use opens it again
  EXPECT_EQ(mdi->subWindowList().size(), 1);

  QAction* log = rig.entry("mWLog");
  auto* bar = rig.window.findChild<QMenuBar*>();
  rig.window.show();
  const auto logEntry = [&] { return bar->grab(bar->actionGeometry(log)).toImage(); };
  const QImage idle = logEntry();
  rig.tk.inputAnswers = {(rig.dir / "w.log").string(), "0"};
  log->trigger();
  EXPECT_TRUE(log->isChecked());
  EXPECT_NE(logEntry(), idle);
  log->trigger();
  EXPECT_EQ(std::pair(log->isChecked(), logEntry()), std::pair(false, idle));
}

}  // namespace
}  // namespace trv4
