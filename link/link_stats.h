// Counters of every scale's exchanges, kept from start-up for the link statistics window: a few
// integer updates per frame, fed by the link as a line observer.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/toolkit.h"
#include "link/line_observer.h"
#include "link/link_state.h"

namespace trv4 {

struct ScaleCounters {
  uint32_t requests = 0;      // status requests sent
  uint32_t commands = 0;      // command frames sent to the scale
  uint32_t broadcasts = 0;    // broadcast frames: only in the line's totals, never answered
  uint32_t replies = 0;       // answers filed for the scale (status replies and command replies)
  uint32_t timeouts = 0;      // exchanges that ended unanswered
  uint32_t badCheck = 0;      // frames whose block check is wrong
  uint32_t cut = 0;           // frames cut short: a part left at the time-out, or too short to file
  uint32_t wrongAddress = 0;  // frames from another scale while this one was asked: not filed
  uint32_t noise = 0;         // text without a frame
  uint32_t naks = 0;          // negative acknowledges
  int64_t lastReplyMs = -1;   // reply time of the last answer, -1 before the first
  int64_t totalReplyMs = 0;   // for the mean
  int64_t maxReplyMs = 0;
  int64_t lastReplyAt = -1;  // steady clock of the last answer, -1 before the first

  uint32_t sentCount() const { return requests + commands; }
  uint32_t badFrames() const { return badCheck + cut + wrongAddress + noise; }
  // Mean reply time in ms, -1 before the first answer.
  double meanReplyMs() const;
  // Share of the frames sent to scales that were answered, 0..1; -1 before anything was sent.
  double answeredShare() const;
  // Adds another scale's counters: the line's totals.
  void add(const ScaleCounters& other);
};

class LinkStats : public LineObserver {
 public:
  explicit LinkStats(Toolkit& toolkit) : toolkit_(toolkit) {}

  void sent(int scale, bool status, std::string_view frame) override;
  void received(int scale, RxKind kind, std::string_view bytes) override;
  void timedOut(int scale, std::string_view leftover) override;

  const ScaleCounters& scale(int index) const { return scales_[index]; }
  // Every scale's counters added up, broadcasts included.
  ScaleCounters totals() const;
  void reset();
  int64_t now() const { return toolkit_.steadyMs(); }

 private:
  ScaleCounters* counters(int scale);

  Toolkit& toolkit_;
  std::array<ScaleCounters, kMaxScales> scales_{};
  uint32_t broadcasts_ = 0;
  int64_t sentAt_ = 0;  // steady clock of the last request
};

// True when a frame from STX to ETX carries the block check of its text.
bool blockCheckHolds(std::string_view frame);

}  // namespace trv4
