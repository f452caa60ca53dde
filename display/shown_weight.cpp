#include "display/shown_weight.h"

#include <cctype>
#include <cstdlib>

#include "display/weight_format.h"

namespace trv4 {

std::optional<ShownWeight> readShownWeight(const std::string& text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos || blank == 0) return std::nullopt;
  const std::string unit = text.substr(blank + 1);
  if (unit != "kg" && unit != "lb") return std::nullopt;
  int64_t v = 0;
  int places = -1;
  bool negative = false, digits = false;
  for (std::size_t i = 0; i < blank; ++i) {
    const char c = text[i];
    if (i == 0 && c == '-') {
      negative = true;
    } else if (c == '.' && places < 0) {
      places = 0;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      v = v * 10 + (c - '0');
      if (v > INT32_MAX) return std::nullopt;
      digits = true;
      if (places >= 0) ++places;
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  ShownWeight w;
  w.digits = static_cast<int32_t>(negative ? -v : v);
  w.decimals = places < 0 ? 0 : places;
  w.unit = unit;
  return w;
}

bool showsOffRange(const std::string& text) {
  return text == kOffRangeText || text == std::string("-") + kOffRangeText;
}

std::string decimalText(const ShownWeight& w) {
  std::string magnitude = std::to_string(std::llabs(int64_t{w.digits}));
  if (w.decimals > 0) {
    if (magnitude.size() <= static_cast<std::size_t>(w.decimals))
      magnitude.insert(0, static_cast<std::size_t>(w.decimals) + 1 - magnitude.size(), '0');
    magnitude.insert(magnitude.size() - static_cast<std::size_t>(w.decimals), 1, '.');
  }
  return (w.digits < 0 ? "-" : "") + magnitude;
}

}  // namespace trv4
