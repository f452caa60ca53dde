// Runs the simulator and the TRV-4 program as real processes, for the end-to-end tests and the
// link benchmark: a fresh folder, the simulator on a pseudo-terminal behind ./COM1, the program
// started there, the simulator's frame log, and the CPU time and memory of a process from /proc.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/scalesim/reply_tally.h"

namespace trv4::scalesim {

// Monotonic clock, in seconds (the clock the simulator's log uses).
double monotonicSeconds();
void sleepSeconds(double seconds);
// Waits until done() holds, checking every 10 ms, at most limitMs. True when it held.
bool waitFor(const std::function<bool()>& done, int limitMs);

void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

// A new folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A child process started in a folder, stdout and stderr to a file there. Stopped (SIGTERM, then
// SIGKILL after a second) when destroyed. Its TRV4_CLAIM_SCOPE is its own unless `env` sets one.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
          const std::vector<std::string>& env, const std::string& outputName);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // True while the process has not ended.
  bool running();
  // Sends a signal and waits up to waitMs for the end. True when it ended.
  bool stop(int signal, int waitMs);
  // The exit code once the process has ended by itself or by a handled signal; -1 while it
  // runs or when a signal killed it.
  int exitCode();

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

// CPU time (user + system) a process has used so far, in seconds; -1 when it cannot be read.
double cpuSeconds(pid_t pid);
// The same to the nanosecond, from the scheduler's account of each of its threads
// (/proc/PID/task/*/schedstat), for processes that use a few clock ticks in a window; threads that
// ended are not counted. -1 when it cannot be read.
double cpuSecondsFine(pid_t pid);
// Resident memory of a process in kB (VmRSS); -1 when it cannot be read.
long residentKb(pid_t pid);

// One frame received or one write, from the simulator's log.
struct LogEntry {
  enum Kind { kRx, kTx } kind = kRx;
  double at = 0;      // CLOCK_MONOTONIC seconds
  std::string bytes;  // frame received or bytes written
  bool valid = true;  // block check of a received frame
};
std::vector<LogEntry> readSimLog(const std::string& path);
// The log as the line's events, for tallyReplies().
std::vector<LineEvent> lineEvents(const std::vector<LogEntry>& log);
// Only the frames received, in order.
std::vector<LogEntry> received(const std::vector<LogEntry>& log);
// Requests the scales received between two monotonic times, read line by line from the
// simulator's log file, so that a long run's log is never held in memory.
long requestsBetween(const std::string& simLog, double from, double to);

// Paths of the programs: TRV4_SCALESIM, TRV4_PROGRAM and TRV4_GATEWAY when set, else those of
// the build.
std::string simulatorPath();
std::string programPath();
std::string gatewayPath();

// The program's TRV4.INI: port 1 at 9600,N,8,1, status and command time-outs 50 and 300 ms, 100 ms
// between scans, 20 ms between characters, and line 8 from `scan` (one digit per scale, padded
// with 0 to thirty).
// `settings` replaces the line settings.
std::string iniText(std::string scan, const std::string& settings = "9600,N,8,1");

// The simulator running in a folder with its log, its link ./COM1 there ready to open.
class Simulator {
 public:
  Simulator(const TempDir& dir, std::vector<std::string> args);
  bool ready() const { return ready_; }
  Process& process() { return process_; }
  std::vector<LogEntry> log() const { return readSimLog(logPath_); }
  const std::string& logPath() const { return logPath_; }

 private:
  std::string logPath_;
  Process process_;
  bool ready_ = false;
};

// The simulator and the program in one fresh folder: TRV4.INI at the default timings with line 8
// from `scan` (one digit per scale, padded with 0 to thirty), the program started without a
// display right after the simulator.
// `files` are written into the folder beside TRV4.INI before the program starts.
struct Session {
  using Files = std::vector<std::pair<std::string, std::string>>;  // name, contents
  Session(const std::vector<std::string>& simArgs, const std::string& scan,
          const Files& files = {});
  // Any other command in the program's place, started in the folder (where the simulator's link
  // is ./COM1) with its output to `command.out` there; no TRV4.INI is written.
  struct Command {
    std::string path;
    std::vector<std::string> args;
  };
  Session(const std::vector<std::string>& simArgs, const Command& command);
  // The command in the program's place with the program's files: TRV4.INI from `scan` and
  // `files` beside it (the gateway, or the program driven by a helper).
  Session(const std::vector<std::string>& simArgs, const std::string& scan, const Files& files,
          const Command& command);
  TempDir dir;
  Simulator sim;
  Process program;  // the program, or the command started in its place
};

}  // namespace trv4::scalesim
