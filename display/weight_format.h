// Turning a scale's status text into what the operator sees.
#pragma once

#include <string>

namespace trv4 {

// Status bits of the flags character.
inline constexpr int TextBit = 1;
inline constexpr int NetBit = 2;
inline constexpr int MarkBit = 4;
inline constexpr int OffRangeBit = 8;
inline constexpr int StableBit = 16;
inline constexpr int NegativeBit = 32;

// Pound factor applied to the field's kilogram value.
inline constexpr double kPoundFactor = 2.2046;

// What the display shows for a weight no field of the scale can hold (see FormatWeight).
inline constexpr const char* kOffRangeText = "Off Range";

// The weight field rounded to the step, in kg (unitFlag 0) or lb, with its unit.
//
// The field keeps its own number of decimals (the characters after its first "."); the step
// text counts in units of the field's last digit. The arithmetic is single precision, as the
// scale's display rounds: n = v * 10^dp / step as a float, a fraction of at least one half goes
// up, w = floor(n) * step, then w / 10^dp rounded to dp places. The decimal sign is always ".".
//
// A step text whose value is 0 (empty or not a number) or beyond float range would divide by
// zero or overflow; step 1, the field's own resolution, is used instead so the display keeps
// working. A weight that is not finite, beyond 10,000,000 (far more than six characters of
// digits can hold, even in pounds) or beyond 2147483647 units of its last digit reads
// "Off Range" instead of a number.
std::string FormatWeight(const std::string& field, int unitFlag, const std::string& stepText);

// What a panel shows for one status text.
struct PanelView {
  std::string text;
  bool netVisible = false;
  bool motionVisible = false;
  std::string motionText = "M";

  bool operator==(const PanelView&) const = default;
};

// Applies the display rule for status text st to view (motionText is left as it was when the
// motion indicator hides without a new caption). A weight FormatWeight cannot show is treated
// like a reply with OffRangeBit: "Off Range", both indicators hidden, the sign kept.
void applyDisplayRule(const std::string& st, int unitFlag, const std::string& stepText,
                      PanelView& view);

}  // namespace trv4
