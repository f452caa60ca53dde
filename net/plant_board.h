// What the plant services (HTTP with its live feed, Modbus TCP) read of the link's side: every
// scale's monitor panel and link counters, and the port and polling state, as the windows' thread
// last published them (net/board_publisher). The services run on a thread of their own and read
// a copy, so no network client ever reads the windows' objects or waits for their thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "display/weight_format.h"
#include "link/link_state.h"
#include "link/link_stats.h"

namespace trv4 {

struct ScaleSnapshot {
  PanelView view;          // what its monitor panel shows
  bool polled = false;     // the normal cycle polls it
  bool answering = false;  // its display hold runs and its panel shows something
  ScaleCounters counters;
  int64_t shownAtMs = 0;  // wall clock of the last answer or blanking shown; 0 before the first
};

// Sparkplug B's connection and what its publisher counted since it started.
struct SparkplugCounters {
  bool connected = false;
  int64_t messages = 0;  // publications handed to the broker
  int64_t ignored = 0;   // NCMD, DCMD and STATE messages not taken
  int64_t refused = 0;   // well-formed commands the gate refused
};

struct PlantSnapshot {
  std::array<ScaleSnapshot, kMaxScales> scales{};
  int unitFlag = 0;              // 0 kilograms, else pounds
  bool singleScaleMode = false;  // only the chosen scale is served
  bool portOpen = false;
  bool suspended = false;    // Find Scales has the line
  int64_t lastSentAtMs = 0;  // the link's steady clock at the last frame sent (or the start)
  std::optional<bool> mqttConnected;           // nullopt while MQTT is off
  std::optional<SparkplugCounters> sparkplug;  // nullopt while Sparkplug is off

  // The link's steady clock at the last write, and the real time since that write as the board
  // measured it when it was read: their sum is the link's clock now, for the ages of replies
  // and frames (the two clocks are one in the program; the tests run the link in virtual time).
  int64_t clockMs = 0;
  int64_t staleMs = 0;
  int64_t linkNowMs() const { return clockMs + staleMs; }

  bool anyPolled() const;
};

// The snapshot behind a mutex held only to copy: the windows' thread writes a scale's part at
// each of its frames, the services copy what they read. A write that finds a reader there is
// left to the writer to make again (net/board_publisher keeps what it still owes).
class PlantBoard {
 public:
  PlantSnapshot read() const {
    std::lock_guard lock(mutex_);
    PlantSnapshot copy = snapshot_;
    copy.staleMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - writtenAt_)
                       .count();
    return copy;
  }
  // change(snapshot) under the lock, unless a reader holds it now: then false, and nothing is
  // changed. The writer (the link's thread) never waits for a reader, which may be scheduled
  // below it. clockMs: the writer's steady clock now.
  template <typename Change>
  bool tryWrite(int64_t clockMs, Change&& change) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    change(snapshot_);
    snapshot_.clockMs = clockMs;
    writtenAt_ = std::chrono::steady_clock::now();
    return true;
  }

 private:
  mutable std::mutex mutex_;
  PlantSnapshot snapshot_;
  std::chrono::steady_clock::time_point writtenAt_ = std::chrono::steady_clock::now();
};

}  // namespace trv4
