// The weight log: the "Log" menu entry asks for a file name and an interval and starts a log;
// while it runs, every tick of the single-scale window's fast timer counts down and, when the
// countdown is spent, appends one line with the date, the time and what the monitor shows for
// every polled scale. The "Log" entry again stops it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "base/disk_sync.h"
#include "base/toolkit.h"
#include "display/monitor_model.h"
#include "link/link_state.h"

namespace trv4 {

inline constexpr const char* kLogFileName = "TRV4W.Log";

class WeightLog {
 public:
  // timerInterval: the interval in ms of the timer that runs step() (the single-scale window's
  // Timer1), read when a log starts.
  WeightLog(LinkState& state, MonitorModel& monitor, Toolkit& toolkit,
            std::function<int()> timerInterval);
  ~WeightLog();
  WeightLog(const WeightLog&) = delete;
  WeightLog& operator=(const WeightLog&) = delete;

  // The "Log" menu entry: starts a log after asking for its file and interval, or stops the
  // running one.
  void mWLog_Click();

  // Starts a log without asking: the file is created or emptied, a line is written every
  // `seconds` seconds (0: at every tick). False, with "CAN NOT WRITE LOG FILE" told, when the
  // file cannot be opened. The headless gateway starts its log this way.
  bool start(const std::string& fileName, int32_t seconds);
  // Stops the running log and closes its file; every line written is in the file.
  void stop();

  // One tick of the log: counts down, or writes the next line. True when a line was written.
  bool step();

  // The current folder followed by the file name, as the system spells file names (UTF-8 on
  // Linux, whatever the folder is called): the default answer of the file-name box. The log's
  // content is code-page text; its name is not.
  static std::string defaultFileName();

  bool LogActive() const { return file_ != nullptr; }
  double LogTicks() const { return logTicks_; }
  int32_t LogCountdown() const { return logCountdown_; }

  // The line step() writes now, line end included.
  std::string line();

  // Runs whenever a log starts or stops, so the menu's check mark can follow.
  std::function<void(bool active)> onActiveChanged;
  // Runs when a log starts, so the single-scale window's timer steps it.
  std::function<void()> onStarted;

 private:
  LinkState& state_;
  MonitorModel& monitor_;
  Toolkit& toolkit_;
  std::function<int()> timerInterval_;
  std::FILE* file_ = nullptr;       // open while the log runs
  std::unique_ptr<DiskSync> sync_;  // syncs file_ to the disk
  double logTicks_ = 0;
  int32_t logCountdown_ = 0;  // carried over from one log to the next
};

}  // namespace trv4
