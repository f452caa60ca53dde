// The capture rules. A capture of a scale waits for the scale's status replies after it was
// asked for: once its monitor panel has shown a number without the motion mark for the asked
// number of replies in a row, it takes what the panel shows. A blank panel, "Off Range", a text
// or the motion mark starts the count again. At the time limit it fails with the reason the
// panel's last state gives; a scale the cycle does not poll fails at once.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>

#include "base/toolkit.h"
#include "capture/capture_desk.h"
#include "display/monitor_model.h"

namespace trv4 {

// Limits a request is held to: at least one answer, at most an hour.
inline constexpr int kCaptureMaxAnswers = 1000;
inline constexpr int kCaptureMaxTimeoutMs = 3600 * 1000;

class CaptureTaker {
 public:
  // served(i): whether the scan cycle polls scale i now (ScaleLink::serves).
  CaptureTaker(MonitorModel& monitor, Toolkit& toolkit, std::function<bool(int)> served);
  ~CaptureTaker();
  CaptureTaker(const CaptureTaker&) = delete;
  CaptureTaker& operator=(const CaptureTaker&) = delete;

  // Starts a capture. done runs once, from the monitor's shown listener or a timer tick, never
  // within this call: with the capture taken (sequence 0, not yet in the journal) or the reason
  // it failed. done must not add or remove monitor listeners.
  void take(const CaptureRequest& request, std::function<void(const CaptureOutcome&)> done);
  // Captures still waiting for their scale.
  std::size_t waiting() const { return pending_.size(); }

 private:
  // What a capture saw of its scale last.
  enum class Seen { kNothing, kBlank, kOffRange, kText, kMoving, kSettled };
  struct Pending {
    CaptureRequest request;
    std::function<void(const CaptureOutcome&)> done;
    int64_t dueAt = 0;     // steady ms
    bool refused = false;  // not polled when asked: ends at once
    int settled = 0;       // replies in a row showing a settled number
    Seen last = Seen::kNothing;
  };

  void onShown(int scale);
  void onDeadline();
  void armDeadline();
  // Why a capture that reached its time limit failed.
  CaptureOutcome failure(const Pending& p) const;

  MonitorModel& monitor_;
  Toolkit& toolkit_;
  std::function<bool(int)> served_;
  std::list<Pending> pending_;
  std::unique_ptr<Timer> deadline_;
  int listener_ = -1;
};

}  // namespace trv4
