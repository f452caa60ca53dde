#include "link/scan_choice.h"

#include <algorithm>

namespace trv4 {

ScanChoice chooseNextScale(const LinkState& state, int alone) {
  if (alone >= 0) return {alone, true};
  const int count = std::clamp(state.ScaleCount, 1, kMaxScales);
  int index = state.ScanIndex;
  const auto advance = [&] {
    ++index;
    if (index > count - 1) index = 0;
  };
  // Commands first. The scale served last comes up at n == count and does not count there.
  int n = 0;
  while (n < count + 1) {
    ++n;
    advance();
    if (scanMarked(state, index) && !state.CommandQueue[index].empty()) break;
  }
  if (n < count) return {index, true};
  // Then the next marked scale, the one served last included.
  index = state.ScanIndex;
  n = 0;
  while (n < count + 1) {
    ++n;
    advance();
    if (scanMarked(state, index)) break;
  }
  return {index, n <= count};
}

}  // namespace trv4
