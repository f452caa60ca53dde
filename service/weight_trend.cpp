#include "service/weight_trend.h"

#include <cstdlib>

#include "display/weight_format.h"

namespace trv4 {

double shownNumber(const std::string& text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos || blank == 0) return NAN;
  const std::string unit = text.substr(blank);
  if (unit != " kg" && unit != " lb") return NAN;
  const std::string number = text.substr(0, blank);
  char* end = nullptr;
  const double v = std::strtod(number.c_str(), &end);
  return end == number.c_str() + number.size() && std::isfinite(v) ? v : NAN;
}

bool shownInPounds(const std::string& text) {
  return !std::isnan(shownNumber(text)) && text.ends_with(" lb");
}

void WeightTrend::record(int scale, const std::string& panelText) {
  if (scale < 0 || scale >= kMaxScales) return;
  Ring& r = rings_[scale];
  if (r.held.empty()) r.held.resize(kTrendPoints);
  const bool pounds = shownInPounds(panelText);
  const double shown = shownNumber(panelText);
  if (!std::isnan(shown)) unit_ = pounds ? 1 : 0;
  const TrendPoint p{toolkit_.steadyMs(), pounds ? shown / kPoundFactor : shown};
  r.news = true;
  // Within a step of the last point, of the same kind: the newer replaces it.
  if (r.size > 0) {
    TrendPoint& last = r.last();
    if (p.atMs - last.atMs < kTrendStepMs && last.gap() == p.gap()) {
      last.value = p.value;
      return;
    }
  }
  r.held[r.next] = p;
  r.next = (r.next + 1) % r.held.size();
  if (r.size < r.held.size()) ++r.size;
}

std::vector<TrendPoint> WeightTrend::points(int scale, int64_t spanMs, int unitFlag) const {
  std::vector<TrendPoint> out;
  if (scale < 0 || scale >= kMaxScales) return out;
  const Ring& r = rings_[scale];
  const int64_t from = toolkit_.steadyMs() - spanMs;
  std::size_t first = r.size;
  while (first > 0 && r.at(first - 1).atMs >= from) --first;
  out.reserve(r.size - first);
  const double factor = unitFlag == 0 ? 1.0 : kPoundFactor;
  for (std::size_t i = first; i < r.size; ++i)
    out.push_back({r.at(i).atMs, r.at(i).value * factor});
  return out;
}

bool WeightTrend::takeNews(int scale) {
  Ring& r = rings_[scale];
  const bool news = r.news;
  r.news = false;
  return news;
}

}  // namespace trv4
