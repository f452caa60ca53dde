// GET /healthz: the program is healthy while its port is open and the scan cycle sends requests.
// The clock is a line observer of the scale link: the time of the last frame sent.
#pragma once

#include <cstdint>
#include <string>

#include "base/toolkit.h"
#include "link/line_observer.h"

namespace trv4 {

// A cycle that has sent nothing for this long has stopped (it sends every scan delay, 100 ms
// by default, whether the scales answer or not).
inline constexpr int64_t kPollingStallMs = 5000;

struct PollingView {
  bool portOpen = false;
  bool suspended = false;   // Find Scales has the line
  bool anyPolled = false;   // a scale is polled, or single-scale mode serves one
  int64_t sinceSentMs = 0;  // since the last frame sent
};

// "" while polling runs, else why not in plain words.
std::string pollingProblem(const PollingView& view);

// The time of the last frame the link sent, on the toolkit's steady clock; until the first, the
// time it began to watch (a cycle gets the stall limit to show it runs).
class SentClock : public LineObserver {
 public:
  explicit SentClock(Toolkit& toolkit) : toolkit_(toolkit), lastSentAt_(toolkit.steadyMs()) {}
  void sent(int, bool, std::string_view) override { lastSentAt_ = toolkit_.steadyMs(); }
  void received(int, RxKind, std::string_view) override {}
  void timedOut(int, std::string_view) override {}
  int64_t sinceSentMs() const { return toolkit_.steadyMs() - lastSentAt_; }

 private:
  Toolkit& toolkit_;
  int64_t lastSentAt_;
};

}  // namespace trv4
