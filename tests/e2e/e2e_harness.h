// Real-time harness for end-to-end tests: a fresh folder, the simulator on a pseudo-terminal, the
// program started in that folder, the simulator's frame log, and the CPU time of a process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace trv4::e2e {

// Monotonic clock, in seconds (the clock the simulator's log uses).
double monotonicSeconds();

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

// A child process started in a folder, stdout and stderr to files there. Stopped (SIGTERM, then
// SIGKILL after a second) when destroyed.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
          const std::vector<std::string>& env, const std::string& outputName);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  double startedAt() const { return startedAt_; }
  // True while the process has not ended.
  bool running();
  // Sends a signal and waits up to waitMs for the end. True when it ended.
  bool stop(int signal, int waitMs);
  // Exit status as waitpid gives it, once ended.
  int status() const { return status_; }

 private:
  pid_t pid_ = -1;
  double startedAt_ = 0;
  bool ended_ = false;
  int status_ = 0;
};

// CPU time (user + system) a process has used so far, in seconds; -1 when it cannot be read.
double cpuSeconds(pid_t pid);
// Resident memory of a process in kB (VmRSS); -1 when it cannot be read.
long residentKb(pid_t pid);

// The eight lines of the program's configuration file: port 1, 9600,N,8,1, the given timings,
// and line 8 from `scan` (one digit per scale, padded with 0 to thirty).
std::string iniText(const std::string& scan, int statusTimeout = 50, int commandTimeout = 300,
                    int statusDelay = 100, int commandDelay = 100, int charTimeout = 20);
void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

// One line of the simulator's log.
struct LogEntry {
  enum Kind { kStart, kRx, kTx } kind = kRx;
  double at = 0;      // CLOCK_MONOTONIC seconds
  std::string bytes;  // frame received or bytes written
  bool valid = true;  // block check of a received frame
};
std::vector<LogEntry> readSimLog(const std::string& path);
// Only the frames received, in order.
std::vector<LogEntry> received(const std::vector<LogEntry>& log);
// The address of a request frame ('?' when too short).
char addressOf(const std::string& frame);
// STX, address, "?0", block check, ETX.
std::string statusRequest(char address);

// Paths of the programs, from the build.
std::string simulatorPath();
std::string programPath();

// The simulator running in a folder, its link there ready to open.
class Simulator {
 public:
  Simulator(const TempDir& dir, std::vector<std::string> args);
  bool ready() const { return ready_; }
  Process& process() { return process_; }
  std::vector<LogEntry> log() const { return readSimLog(logPath_); }

 private:
  std::string logPath_;
  Process process_;
  bool ready_ = false;
};

// Waits until done() holds, checking every 10 ms, at most limitMs. True when it held.
bool waitFor(const std::function<bool()>& done, int limitMs);

}  // namespace trv4::e2e
