// The scan step's choice of the next scale, as a function of the shared state: ScaleLink's
// BlockTimer_Timer sends to the scale it names.
#pragma once

#include "link/link_state.h"

namespace trv4 {

struct ScanChoice {
  int scanIndex = 0;   // ScanIndex after the step: the scale chosen, or where the search ended
  bool found = false;  // false: no scale is polled, nothing is sent
};

// With `alone` (single-scale mode with an address selected: its index, else -1) that scale.
// Otherwise, from the scale after state.ScanIndex on (which must lie within the scale count),
// the first marked scale with a command queued, the scale served last not counting; then the
// first marked scale, the one served last included.
ScanChoice chooseNextScale(const LinkState& state, int alone);

}  // namespace trv4
