// The weight trend's record: for each scale, what its monitor panel showed over the last hour,
// as numbers, with a gap wherever the panel showed a text, "Off Range" or nothing. At most one
// point per scale every 250 ms is kept (a newer one replaces it), in a ring of one hour's
// points, so memory is bounded whatever the run time. Points are kept in kilograms, the unit the
// scales report, whatever unit the panel showed, and read out in the unit asked for: a switch
// between kg and lb moves no line.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "link/link_state.h"

namespace trv4 {

inline constexpr int64_t kTrendSpanMs = 60 * 60 * 1000;
inline constexpr int64_t kTrendStepMs = 250;
inline constexpr std::size_t kTrendPoints = kTrendSpanMs / kTrendStepMs;

struct TrendPoint {
  int64_t atMs = 0;    // steady clock
  double value = NAN;  // kg as recorded, in the unit asked for as read; NaN: a gap
  bool gap() const { return std::isnan(value); }
};

// The number a panel's text shows ("12.34 kg", "-1.5 lb"), NaN for anything else.
double shownNumber(const std::string& panelText);
// Whether a panel's text is a weight in pounds.
bool shownInPounds(const std::string& panelText);

class WeightTrend {
 public:
  explicit WeightTrend(Toolkit& toolkit) : toolkit_(toolkit) {}

  // What panel `scale` shows now (its text as the monitor holds it).
  void record(int scale, const std::string& panelText);
  // The points of a scale within the last spanMs, oldest first, in kg (unitFlag 0) or lb.
  std::vector<TrendPoint> points(int scale, int64_t spanMs, int unitFlag = 0) const;
  // The unit of the newest weight recorded, as the panels show it now: 0 kg (also before any
  // weight), 1 lb.
  int unit() const { return unit_; }
  // Points held for a scale.
  std::size_t size(int scale) const { return rings_[scale].size; }
  // Times a scale recorded something since the last call; the window redraws on news only.
  bool takeNews(int scale);
  int64_t now() const { return toolkit_.steadyMs(); }

 private:
  struct Ring {
    std::vector<TrendPoint> held;  // allocated at the scale's first point
    std::size_t next = 0, size = 0;
    bool news = false;
    const TrendPoint& at(std::size_t i) const {
      return held[(next + held.size() - size + i) % held.size()];
    }
    TrendPoint& last() { return held[(next + held.size() - 1) % held.size()]; }
  };
  Toolkit& toolkit_;
  std::array<Ring, kMaxScales> rings_;
  int unit_ = 0;
};

}  // namespace trv4
