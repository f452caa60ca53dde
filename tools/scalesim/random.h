// The simulator's one source of chance (weights, injected faults, reply jitter): splitmix64 from
// the run's seed, the same on every platform, so a seed repeats a run draw for draw.
#pragma once

#include <cstdint>

namespace trv4::scalesim {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Evenly from lo up to (not including) hi.
  double uniform(double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(next() >> 11) / 9007199254740992.0;
  }
  // True with the chance rate; a rate of 0 or 1 draws nothing.
  bool roll(double rate) {
    if (rate >= 1) return true;
    if (rate <= 0) return false;
    return uniform(0, 1) < rate;
  }

 private:
  uint64_t state_;
};

}  // namespace trv4::scalesim
