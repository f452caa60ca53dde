// The benchmarks that run trv4-scalesim say where they looked when it is not there.
#pragma once

#include <unistd.h>

#include <cstdio>

#include "tools/scalesim/sim_session.h"

namespace trv4::bench {

// False, told on standard error, when the simulator cannot be run.
inline bool simulatorThere(const char* benchmark) {
  if (access(scalesim::simulatorPath().c_str(), X_OK) == 0) return true;
  std::fprintf(stderr, "%s: needs %s (or TRV4_SCALESIM)\n", benchmark,
               scalesim::simulatorPath().c_str());
  return false;
}

}  // namespace trv4::bench
