// GET /healthz: the program is healthy while its port is open and the scan cycle sends requests.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace trv4
