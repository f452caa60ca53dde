// Checks and forms of the digit fields in the scales' requests and answers.
#pragma once

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

namespace trv4::scalesim {

inline bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

inline bool oneOf(std::string_view value, std::initializer_list<std::string_view> choices) {
  return std::find(choices.begin(), choices.end(), value) != choices.end();
}

inline bool inRange(char c, char lo, char hi) {
  return c >= lo && c <= hi;
}

// Six digits with leading zeros, held to 0..999999.
inline std::string sixDigits(long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%06lld", std::clamp(v, 0LL, 999999LL));
  return buf;
}

}  // namespace trv4::scalesim
