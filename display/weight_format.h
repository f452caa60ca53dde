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


// The weight field rounded to the step, in kg (unitFlag 0) or lb, with its unit.
std::string FormatWeight(const std::string& field, int unitFlag, const std::string& stepText);

// What a panel shows for one status text.
struct PanelView {
  std::string text;
  bool netVisible = false;
  bool motionVisible = false;
  std::string motionText = "M";
};

// Applies the display rule for status text st to view (motionText is left as it was when the
// motion indicator hides without a new caption).
void applyDisplayRule(const std::string& st, int unitFlag, const std::string& stepText,
                      PanelView& view);

}  // namespace trv4
