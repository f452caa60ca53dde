#include "tests/support/program_driver.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QInputDialog>
#include <QMessageBox>
#include <filesystem>
#include <system_error>

#include "app/main_window.h"

namespace trv4::e2e {

double ownCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void runEvents(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

bool runEventsUntil(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= limitMs) return false;
    runEvents(0.005);
  }
  return true;
}

WorkingDir::WorkingDir(const std::string& path) {
  std::error_code error;
  previous_ = std::filesystem::current_path(error).string();
  ok_ = !error && ::chdir(path.c_str()) == 0;
}

WorkingDir::~WorkingDir() {
  if (ok_ && ::chdir(previous_.c_str()) != 0) std::perror("chdir back");
}

ModalAnswerer::ModalAnswerer(std::vector<QString> inputs) : inputs_(std::move(inputs)) {
  QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
  timer_.start(5);
}

void ModalAnswerer::poll() {
  QWidget* widget = QApplication::activeModalWidget();
  if (widget == nullptr) return;
  ModalBox box;
  box.title = widget->windowTitle();
  if (auto* input = qobject_cast<QInputDialog*>(widget)) {
    box.kind = ModalBox::kInput;
    box.text = input->labelText();
    box.value = input->textValue();
    if (next_ < inputs_.size()) {
      input->setTextValue(inputs_[next_++]);
      input->accept();
      box.accepted = true;
    } else {
      input->reject();
    }
  } else if (auto* message = qobject_cast<QMessageBox*>(widget)) {
    box.kind = ModalBox::kMessage;
    box.text = message->text();
    if (QAbstractButton* ok = message->button(QMessageBox::Ok)) {
      ok->click();
    } else {
      message->accept();
    }
    box.accepted = true;
  } else if (auto* dialog = qobject_cast<QDialog*>(widget)) {
    dialog->reject();
  } else {
    widget->close();
  }
  boxes_.push_back(box);
}

QWidget* topLevelWindow(const char* name, bool shownOnly) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == name && (w->isVisible() || !shownOnly)) return w;
  return nullptr;
}

QAction* menuEntry(Program& program, const char* name) {
  MainWindow* window = program.window();
  return window ? window->findChild<QAction*>(QString::fromLatin1(name)) : nullptr;
}

std::vector<ModalBox> click(QAction& entry, std::vector<QString> inputs) {
  ModalAnswerer answerer(std::move(inputs));
  bool timedOut = false;
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [&timedOut] {
    timedOut = true;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible() && qobject_cast<MainWindow*>(w) == nullptr) w->close();
    }
  });
  limit.start(kClickLimitMs);
  // Returns once the handler has run: every box it opened has been answered meanwhile.
  entry.trigger();
  std::vector<ModalBox> boxes = answerer.boxes();
  if (timedOut) boxes.push_back({ModalBox::kOther, kClickTimedOut, kClickTimedOut, {}, false});
  return boxes;
}

namespace {

// Reply time-outs of 1 s and 3 s rather than 50 and 300 ms: on a loaded machine a reply that
// misses its time-out is not taken, which no test that uses this is about.
std::string slowReplies(std::string ini) {
  for (auto [from, to] : {std::pair{"\"0050  ' wait status", "\"1000  ' wait status"},
                          std::pair{"\"0300  ' wait Command", "\"3000  ' wait Command"}}) {
    const size_t at = ini.find(from);
    if (at != std::string::npos) ini.replace(at, std::string(from).size(), to);
  }
  return ini;
}

}  // namespace

InProcessSession::InProcessSession(const std::vector<std::string>& simArgs, const std::string& scan,
                                   ReplyTimeouts timeouts, const std::string& settings)
    : sim(dir, simArgs), cwd(dir.path()) {
  if (!sim.ready()) {
    failure_ = "the simulator did not start";
    return;
  }
  if (!cwd.ok()) {
    failure_ = "cannot change to " + dir.path();
    return;
  }
  const std::string ini = scalesim::iniText(scan, settings);
  scalesim::writeFile(dir.file("TRV4.INI"),
                      timeouts == ReplyTimeouts::kSlow ? slowReplies(ini) : ini);
  // Start-up shows a box only when something is wrong; it is closed and reported.
  ModalAnswerer answerer;
  const bool started = program.start();
  for (const ModalBox& box : answerer.boxes()) {
    failure_ += "start-up said: " + box.text.toStdString() + "\n";
  }
  if (!started) failure_ += "the program did not start";
}

}  // namespace trv4::e2e
