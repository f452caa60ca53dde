// Find Scales: with the scan cycle paused, sends one status request to every address "A".."^"
// in turn, at the port's own line settings or at every rate the settings dialog offers (7E1 and
// 8N1 each), then puts the port's settings back and lets the cycle go on.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "display/monitor_model.h"
#include "link/link_state.h"
#include "link/scale_link.h"
#include "link/serial_port.h"

namespace trv4 {

struct FoundScale {
  bool answered = false;
  std::vector<std::string> settings;  // the line settings it answered at, in search order
  std::string shown;                  // its first answer as the monitor shows it
};

class ScaleFinder {
 public:
  ScaleFinder(ScaleLink& link, SerialPort& port, Toolkit& toolkit, LinkState& state,
              MonitorModel& monitor, const DisplaySettings& display);
  ~ScaleFinder();
  ScaleFinder(const ScaleFinder&) = delete;
  ScaleFinder& operator=(const ScaleFinder&) = delete;

  // Starts a search; "" when it started, else why not (the port is closed, one runs already).
  std::string start(bool everyRate);
  // Ends a running search at once: settings back, polling resumed, what was found kept.
  void cancel();
  bool running() const { return running_; }
  int stepsDone() const { return step_; }
  int stepsTotal() const { return static_cast<int>(settings_.size()) * kMaxScales; }
  const std::array<FoundScale, kMaxScales>& found() const { return found_; }
  // Why the port's own settings could not be put back after the last search; nullopt when they
  // were.
  const PortError& restoreError() const { return restoreError_; }

  // "Poll these": exactly the scales that answered become the polled set, written to the
  // configuration file. False when none answered.
  bool pollFound();
  // Puts back the polled set "Poll these" replaced.
  bool undo();
  bool canUndo() const { return previous_.has_value(); }

  // After every address asked, and at the end of a search (finished or cancelled).
  std::function<void()> onProgress;
  std::function<void()> onFinished;

  // How long an address is given to answer at a bit rate: the request and a status reply with
  // half their time again, and 30 ms for the scale to turn round.
  static int replyTimeoutMs(int baud);

 private:
  void next();
  void onReceive();
  void finish();

  ScaleLink& link_;
  SerialPort& port_;
  LinkState& state_;
  MonitorModel& monitor_;
  const DisplaySettings& display_;
  std::unique_ptr<Timer> timer_;
  std::vector<std::string> settings_;  // the line settings to search at, own first
  std::string ownSettings_;
  PortError restoreError_;
  int step_ = 0;  // addresses asked so far, over every setting
  int timeoutMs_ = 0;
  int lastAsked_ = -1;    // the address asked last
  bool retried_ = false;  // it is being asked again after a garbled answer
  bool running_ = false;
  std::string sent_;  // the request open, to tell its echo
  std::string rx_;
  std::array<FoundScale, kMaxScales> found_{};
  std::optional<std::array<int, kMaxScales>> previous_;
};

}  // namespace trv4
