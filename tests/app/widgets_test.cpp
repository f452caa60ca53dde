// The windows on Qt's offscreen platform: the input boxes, the settings dialog, the single-scale
// window, the parameter window, the calibration window, and the main window with its monitor, log,
// parameters and calibration entries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
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
#include "net/publishing.h"
#include "net/publishing_dialog.h"
#include "params/param_window.h"
#include "tests/support/sim_scales.h"

namespace trv4 {
namespace {

// What assistive technology and UI automation find in a window: every input control has a
// caption label as its buddy; every label that shows a value reads the value shown now as its name
// and what it is as its description (the rows given: object name, description); pictures have a
// name.
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
    const auto row = std::ranges::find(rows, w->objectName(), &std::pair<QString, QString>::first);
    if (row != rows.end()) {
      ++listed;
      const QString value = label ? label->text() : edit->text();
      EXPECT_FALSE(value.isEmpty()) << name;
      EXPECT_EQ(shownName, value.toStdString());
      EXPECT_EQ(iface->text(QAccessible::Description).toStdString(), row->second.toStdString());
    } else if (label && !label->buddy() && !name.ends_with("Label")) {
      // Not listed and no caption: a picture has a name, a value reads the same way.
      if (!label->pixmap().isNull()) {
        EXPECT_FALSE(shownName.empty()) << name;
      } else {
        EXPECT_EQ(shownName, label->text().toStdString());
        EXPECT_FALSE(iface->text(QAccessible::Description).isEmpty()) << name;
      }
    }
  }
  EXPECT_EQ(listed, rows.size());
}

// A key as the keyboard gives it, and let go when asked.
void key(QWidget* target, Qt::Key code, const QString& text, bool release = false) {
  QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent up(QEvent::KeyRelease, code, Qt::NoModifier, text);
  if (release) QApplication::sendEvent(target, &up);
}

// The toggle action of an option button or check box, as assistive technology works it.
void toggle(QWidget* button) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
  ASSERT_TRUE(iface && iface->actionInterface());
  iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

void deleteClosed() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The program's logic in virtual time on a simulated port, its configuration file (none: the
// port probe, scales A..H) in a scratch folder, and the main window over it.
struct MainRig {
  MainRig() { EXPECT_TRUE(loaded); }
  ~MainRig() { std::filesystem::remove_all(dir); }
  QAction* entry(const char* name) { return window.findChild<QAction*>(name); }
  template <class W>
  W* find(const char* name = nullptr) {
    return name ? window.findChild<W*>(name) : window.findChild<W*>();
  }
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

// An input box takes and gives code-page text; a file-name box the system's own (UTF-8), so
// "Wägung", which the code page cannot hold, survives both ways.
TEST(QtToolkit, FileNamesPassAsTheSystemsTextAndOtherAnswersAsTheCodePage) {
  QtToolkit toolkit(QStringLiteral("TRV4"));
  QString offered;
  QString typed = QString::fromUtf8("/tmp/W\u00e4gung/\u0396.log");
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
  typed = QString::fromUtf8("\u0396");
  EXPECT_EQ(toolkit.inputBox("Prompt", "Title", "\xD6"), "\xC6");
  EXPECT_EQ(offered, QString::fromUtf8("\u03a6"));
}

// The character time-out is restarted at every character: its tick must come a whole interval
// after the last restart, never sooner, and then every interval. Real time: a busy machine can
// only make ticks late, so only lateness is allowed.
TEST(QtToolkit, ARestartedTimerTicksAWholeIntervalAfterItsLastRestartAndThenEveryInterval) {
  using Clock = std::chrono::steady_clock;
  using std::chrono::milliseconds;
  QtToolkit toolkit(QStringLiteral("TRV4"));
  std::vector<Clock::time_point> ticks, restarts;
  auto timer = toolkit.createTimer([&] { ticks.push_back(Clock::now()); });
  const milliseconds interval(30), slack(1);
  const auto runUntil = [](const std::function<bool()>& done, milliseconds most) {
    for (const auto end = Clock::now() + most; !done() && Clock::now() < end;)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  };
  const auto never = [] { return false; };
  // Restarted every 8 ms for about 100 ms: a tick meanwhile (only a busy machine lets one
  // through) still comes a whole interval after the restart before it.
  for (int i = 0; i < 12; ++i) {
    timer->restart(30);
    restarts.push_back(Clock::now());
    runUntil(never, milliseconds(8));
  }
  for (const Clock::time_point t : ticks)
    EXPECT_GE(t - *std::prev(std::upper_bound(restarts.begin(), restarts.end(), t)),
              interval - slack);
  ticks.clear();
  timer->restart(30);
  const Clock::time_point last = Clock::now();
  runUntil([&] { return ticks.size() >= 3; }, milliseconds(10'000));
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_GE(ticks[0] - last, interval);
  EXPECT_GE(ticks[1] - ticks[0], interval - slack);
  EXPECT_GE(ticks[2] - ticks[1], interval - slack);
  timer->setEnabled(false);  // and stays silent
  runUntil(never, milliseconds(60));
  EXPECT_EQ(ticks.size(), 3u);
}

TEST(CommSettingsDialog, OptionsReadAsRadioButtonsTakeTheirChoiceHoweverMarkedAndEscapeKeepsAll) {
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
  const auto checked = [&](const char* name) {
    return QAccessible::queryAccessibleInterface(option(name))->state().checked;
  };
  open();
  // Each port number tells the device it names on this machine.
  EXPECT_EQ(option("ComPort1")->toolTip(), "Com1: /dev/ttySIM0");
  EXPECT_EQ(option("ComPort2")->toolTip(), "Com2: no device on this machine");
  EXPECT_TRUE(option("Baud6")->isChecked());  // 600 is shown but cannot be chosen
  EXPECT_FALSE(option("Baud6")->isEnabled());
  option("Baud24")->click();
  option("ComPort2")->click();
  EXPECT_FALSE(option("Baud6")->isChecked());
  key(dialog, Qt::Key_Escape, "");
  deleteClosed();
  EXPECT_TRUE(dialog.isNull());
  EXPECT_EQ(std::tuple(port.commPort(), port.settings(), saved.size()),
            std::tuple(1, "600,N,8,1", 0u));

  // A screen reader announces the options as radio buttons, one of several. Marked by assistive
  // technology, the keyboard and the mouse: OK applies them all. An option already marked stays
  // marked when toggled: one of a group is always chosen.
  open();
  const QList<QRadioButton*> options = dialog->findChildren<QRadioButton*>();
  ASSERT_EQ(options.size(), 24);
  for (QRadioButton* o : options)
    EXPECT_EQ(QAccessible::queryAccessibleInterface(o)->role(), QAccessible::RadioButton)
        << o->objectName().toStdString();
  toggle(option("Baud19"));
  EXPECT_EQ(std::tuple(checked("Baud19"), checked("Baud6")), std::tuple(true, false));
  toggle(option("Baud19"));
  toggle(option("ComPort1"));
  EXPECT_EQ(std::tuple(checked("Baud19"), option("ComPort1")->isChecked()), std::tuple(true, true));
  option("OddParity")->click();
  option("EvenParity")->setFocus();
  key(option("EvenParity"), Qt::Key_Space, " ", true);
  EXPECT_EQ(std::tuple(checked("EvenParity"), checked("OddParity")), std::tuple(true, false));
  option("Data7")->click();
  dialog->findChild<QPushButton*>("OKButton")->click();
  EXPECT_EQ(port.commPort(), 1);
  EXPECT_EQ(saved, std::vector<std::string>{"19200,E,7,1"});  // as the port holds it at the save
}

// Opened from the main window over scale A, whose conversion rate and baud rate its lists do not
// offer. While its upload runs it shows, every button waits, closing is refused and a second
// Parameters entry only raises it; closed, it goes with its logic and the entry opens it afresh.
TEST(ParamWindow, OpensOnceKeepsValuesItsListsDoNotOfferAndReadsEveryValueAndTyping) {
  MainRig rig;
  test::SimScales scales{rig.tk, rig.port};
  scales.scale('A')->params["p1"] = "704022";  // conversions rate 7
  scales.scale('A')->calLock = true;
  rig.port.setSettings("4800,E,7,1");
  QAction* entry = rig.entry("mParam");
  const auto windows = [&] { return rig.window.findChildren<ParamWindow*>(); };
  bool duringUpload = false;
  rig.tk.schedule(rig.tk.now() + 10, [&] {
    duringUpload = true;
    ASSERT_EQ(windows().size(), 1);
    ParamWindow* shown = windows().first();
    EXPECT_TRUE(shown->isVisible());
    for (auto* button : shown->findChildren<QPushButton*>())
      EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_FALSE(shown->close());  // the upload waits inside its logic
    entry->trigger();              // chosen again: only raised
    EXPECT_EQ(windows().size(), 1);
  });
  entry->trigger();
  EXPECT_TRUE(duringUpload);
  ASSERT_EQ(windows().size(), 1);
  QPointer<ParamWindow> window = windows().first();
  window->findChild<QPushButton*>("Command1")->click();  // and the internal resolution
  EXPECT_TRUE(rig.tk.messages.empty());
  Param& param = *rig.app.param();
  const auto edit = [&](const char* name) { return window->findChild<QLineEdit*>(name); };
  EXPECT_TRUE(window->findChild<QLabel*>("vCalLock")->isVisibleTo(window));
  EXPECT_FALSE(window->findChild<QLabel*>("vPinLock")->isVisibleTo(window));
  EXPECT_EQ(window->findChild<QLabel*>("Corner(3)")->text(), fromCodePage(param.Corner(3)));
  // The first and last of each row of values; those between read their value as well.
  expectReadable(window, {{"vATCounter", "Audit Trail Counter"},
                          {"vCalLock", "Calibration lock"},
                          {"vPinLock", "PIN lock"},
                          {"vInternal(0)", "Internal resolution 0"},
                          {"vInternal(4)", "Internal resolution 4"},
                          {"Corner(0)", "Corner 1 factor"},
                          {"Corner(3)", "Corner 4 factor"}});

  // Values outside a list show as they are, as an extra last entry; a listed entry chosen
  // replaces the value, and the extra entry goes.
  for (const auto& [name, extra, listed, pick, picked] :
       {std::tuple{"vConv", "7", 4, 0, "1"}, {"vBaud", "4800", 6, 1, "9600"}}) {
    auto* box = window->findChild<QComboBox*>(name);
    ASSERT_EQ(box->count(), listed + 1) << name;
    EXPECT_EQ(box->currentText(), extra) << name;
    box->setCurrentIndex(pick);
    EXPECT_EQ(std::tuple(param.value(name), box->count()), std::tuple(std::string(picked), listed));
  }

  // Typed text reaches the logic in the code page, and typing is not disturbed by the repaint.
  edit("vSetp1")->setText(QString::fromUtf8("1Α"));
  edit("vSetp1")->setCursorPosition(1);
  edit("vSetp1")->insert("2");
  EXPECT_EQ(param.value("vSetp1"), "12\xC1");
  EXPECT_EQ(edit("vSetp1")->cursorPosition(), 2);
  toggle(window->findChild<QCheckBox*>("vLZero"));  // as assistive technology ticks it
  EXPECT_EQ(param.value("vLZero"), "1");

  EXPECT_TRUE(window->close());
  deleteClosed();
  EXPECT_EQ(std::tuple(window.isNull(), rig.app.param()), std::tuple(true, nullptr));
  entry->trigger();  // afresh, with a new upload
  ASSERT_NE(rig.app.param(), nullptr);
  EXPECT_EQ(rig.app.param()->value("vConv"), "7");
}

TEST(CalibWindow, ShowsWhileAProcedureRunsAndTakesKeysThroughItsFilter) {
  MainRig rig;
  auto* calib = rig.find<CalibWindow>("Calib");
  ASSERT_NE(calib, nullptr);
  auto* box = calib->findChild<QLineEdit*>("AskTxt");
  auto* start = calib->findChild<QToolButton*>("StartCmd");
  auto* stop = calib->findChild<QToolButton*>("StopCmd");
  auto* bar = calib->findChild<QProgressBar*>("PBar");
  ASSERT_TRUE(box && start && stop && bar);

  rig.app.oneUnit().selectScale("B");
  bool prompted = false;
  rig.tk.schedule(rig.tk.now() + 100, [&] {
    prompted = true;
    EXPECT_FALSE(stop->isVisible());  // Start shows instead; the end-to-end run clicks it
    expectReadable(calib, {{"AskLbl", "Prompt"}, {"Label1", "Hint"}});
    key(box, Qt::Key_1, "1");
    key(box, Qt::Key_Period, ".");
    EXPECT_EQ(rig.tk.messages, std::vector<std::string>{"DECIMAL POINT NOT ALLOWED"});
    EXPECT_EQ(box->text(), "");
    box->insert("1,5");  // pasted: held to the key filter's rules
    EXPECT_EQ(std::tuple(rig.tk.messages.size(), box->text()), std::tuple(2u, QString()));
    key(box, Qt::Key_5, "5");
    box->insert("1234567");  // and to the box's length
    EXPECT_EQ(box->text(), "51234");
    key(box, Qt::Key_Return, "\r");  // as Start
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

// The single-scale window forwards its controls and stays open; every label that shows a value,
// in the windows not tested above, reads its value and what it is.
TEST(MainWindow, TheSingleScaleWindowForwardsItsControlsAndEveryValueLabelReadsWhatItShows) {
  MainRig rig;
  auto* unit = rig.find<OneUnitWindow>();
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

  // Scale Z is not polled: its panel and the single-scale window keep the text it is given, "&"
  // and all, on one line.
  rig.app.oneUnit().selectScale("Z");
  rig.app.monitor().DispWeight(25, std::string("\x01") + "R&\r\n1 ");
  rig.tk.advance(25);
  auto* monitor = rig.find<MonitorWindow>();
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor->weightLabel(25)->text(), "R&\uFFFD\uFFFD1 ");
  EXPECT_EQ(rig.find<QLabel>("LDisp")->text(), "R&\uFFFD\uFFFD1 ");
  expectReadable(monitor, {{"WDisp(25)", "Weight of scale Z"},
                           {"ScaleAddr(25)", "Address of scale Z, not polled"},
                           {"ScaleAddr(0)", "Address of scale A, polled"},
                           {"NetLbl(25)", "Net indicator of scale Z"},
                           {"MotLbl(25)", "Motion indicator of scale Z"}});
  expectReadable(unit, {{"LDisp", "Weight of the selected scale"},
                        {"NetLbl", "Net indicator of the selected scale"},
                        {"MotLbl", "Motion indicator of the selected scale"},
                        {"MsgLbl", "Weight log"}});
  expectReadable(rig.window.statusBar(), {{"StatusBar1", "Status bar"}});
  AboutBox about;
  expectReadable(&about, {{"Label2", "Product"}, {"Label1", "Maker"}});
}

TEST(MainWindow, MonitorComesBackAfterClosingAndLogShowsItsCheckMark) {
  MainRig rig;
  auto* mdi = rig.find<QMdiArea>();
  ASSERT_NE(mdi, nullptr);
  rig.tk.advance(1000);
  ASSERT_EQ(mdi->subWindowList().size(), 1);
  mdi->subWindowList().first()->close();
  deleteClosed();
  EXPECT_TRUE(mdi->subWindowList().isEmpty());
  rig.tk.advance(25);  // its next use opens it again
  EXPECT_EQ(mdi->subWindowList().size(), 1);

  // The menu bar draws no check marks: a running log shows as a pressed "Log".
  QAction* log = rig.entry("mWLog");
  auto* bar = rig.find<QMenuBar>();
  rig.window.show();
  const auto logEntry = [&] { return bar->grab(bar->actionGeometry(log)).toImage(); };
  const QImage idle = logEntry();
  ASSERT_FALSE(idle.isNull());
  rig.tk.inputAnswers = {(rig.dir / "w.log").string(), "0"};
  log->trigger();
  EXPECT_TRUE(log->isChecked());
  EXPECT_NE(logEntry(), idle);
  log->trigger();
  EXPECT_FALSE(log->isChecked());
  EXPECT_EQ(logEntry(), idle);
  rig.tk.inputAnswers = {"", ""};  // cancelled: no check mark
  log->trigger();
  EXPECT_FALSE(log->isChecked());
}

// The dialog's own checks and file are the publishing dialog's test; here its entry in Service.
TEST(MainWindow, ThePublishingEntryOpensOneDialogWhoseOkRestartsPublishing) {
  MainRig rig;
  Publishing publishing(rig.app.monitor(), rig.app.state(), rig.tk,
                        [&rig](const std::string& a) { return rig.app.remoteCommandRefusal(a); });
  const std::string path = (rig.dir / kNetSettingsFileName).string();
  rig.window.setPublishing(&publishing, path);
  publishing.start(path);
  rig.entry("mPublishing")->trigger();
  rig.entry("mPublishing")->trigger();  // the open dialog comes to the front
  const auto dialogs = rig.window.findChildren<PublishingDialog*>();
  ASSERT_EQ(dialogs.size(), 1);
  dialogs[0]->findChild<QLineEdit*>("mqttHost")->setText("broker.plant");
  dialogs[0]->findChild<QPushButton*>("ok")->click();
  EXPECT_EQ(publishing.settings().mqtt.host, "broker.plant");  // in effect at once
  publishing.stop();
}

}  // namespace
}  // namespace trv4
