// The number a monitor panel's text shows: "-12.34 kg" is -1234 in units of its last digit, with
// 2 decimals, in kg. Texts such as "Off Range" or a scale's own message show no number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace trv4 {

struct ShownWeight {
  int32_t digits = 0;  // the weight in units of its last shown digit
  int decimals = 0;
  std::string unit;  // "kg" or "lb"
};

std::optional<ShownWeight> readShownWeight(const std::string& text);

// Whether the text is "Off Range": a weight the scale or the panel cannot show, "-Off Range"
// below zero.
bool showsOffRange(const std::string& text);

// digits and decimals as a decimal number: -1234 and 2 give "-12.34".
std::string decimalText(const ShownWeight& w);

}  // namespace trv4
