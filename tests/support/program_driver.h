// Runs the TRV-4 program inside this process against trv4-scalesim on a pseudo-terminal, and works
// its windows as an operator would: menu entries triggered, modal boxes answered. Shared by the
// end-to-end tests that read what the program writes and by the screen benchmark.
#pragma once

#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/program.h"
#include "tools/scalesim/sim_session.h"

class QAction;
class QWidget;

namespace trv4::e2e {

// CPU time (user + system) this process has used so far, in seconds, at microsecond resolution.
double ownCpuSeconds();

// Runs the Qt event loop for `seconds`.
void runEvents(double seconds);
// Runs the Qt event loop until done() holds, checked every 5 ms, at most limitMs. True when it
// held.
bool runEventsUntil(const std::function<bool()>& done, int limitMs);

// Makes `path` the current folder while it lives; the previous one comes back after.
class WorkingDir {
 public:
  explicit WorkingDir(const std::string& path);
  ~WorkingDir();
  WorkingDir(const WorkingDir&) = delete;
  WorkingDir& operator=(const WorkingDir&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

// A modal box as it was met.
struct ModalBox {
  enum Kind { kInput, kMessage, kOther } kind = kOther;
  QString title;
  QString text;           // an input box's prompt, a message box's message
  QString value;          // an input box's text as it opened
  bool accepted = false;  // closed with OK; false when cancelled
};

// While it lives, answers every modal box that opens, from a timer that looks for one every 5 ms:
// an input box gets the next of `inputs` typed in and OK (Cancel once they are used up), a message
// box OK, anything else is closed. No box stays open, so nothing waits on one for ever.
class ModalAnswerer {
 public:
  explicit ModalAnswerer(std::vector<QString> inputs = {});
  ModalAnswerer(const ModalAnswerer&) = delete;
  ModalAnswerer& operator=(const ModalAnswerer&) = delete;
  const std::vector<ModalBox>& boxes() const { return boxes_; }

 private:
  void poll();

  QTimer timer_;
  std::vector<QString> inputs_;
  size_t next_ = 0;
  std::vector<ModalBox> boxes_;
};

// The top-level window with this object name, by default only one that is shown; null when there
// is none.
QWidget* topLevelWindow(const char* name, bool shownOnly = true);

// The main window's menu entry with this object name; null when there is none.
QAction* menuEntry(Program& program, const char* name);
// Triggers a menu entry as a click does and answers the boxes it opens (see ModalAnswerer).
// Returns the boxes in the order they opened. A handler still running after kClickLimitMs (one
// that waits for an operator who never comes) has its windows closed so that it returns, and a
// box titled kClickTimedOut ends the list: the test fails instead of hanging.
inline constexpr int kClickLimitMs = 60000;
inline constexpr const char* kClickTimedOut = "the click did not return within its time limit";
std::vector<ModalBox> click(QAction& entry, std::vector<QString> inputs = {});

// The simulator with `simArgs` on ./COM1 in a fresh folder, TRV4.INI there from iniText(scan)
// with reply time-outs of 1 s (status) and 3 s (command) unless told otherwise, and the program
// started in this process with that folder as the current one.
class InProcessSession {
 public:
  // kDefault: the configuration file's usual time-outs (50 and 300 ms); `settings` the line's.
  enum class ReplyTimeouts { kSlow, kDefault };
  InProcessSession(const std::vector<std::string>& simArgs, const std::string& scan,
                   ReplyTimeouts timeouts = ReplyTimeouts::kSlow,
                   const std::string& settings = "9600,N,8,1");
  // Empty when the simulator and the program started without a message; else what went wrong.
  const std::string& failure() const { return failure_; }

  scalesim::TempDir dir;
  scalesim::Simulator sim;
  WorkingDir cwd;
  Program program;

 private:
  std::string failure_;
};

}  // namespace trv4::e2e
