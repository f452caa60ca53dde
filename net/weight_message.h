// The JSON a scale's weight topic carries, built from what its monitor panel shows:
// {"address":"A","text":"12.34 kg","weight":12.34,"unit":"kg","net":false,"motion":false,
//  "offRange":false,"time":"2026-12-06T14:03:59.123Z"}
// text is the panel's text in UTF-8; weight is null when the panel shows a text or nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "display/shown_weight.h"
#include "display/weight_format.h"

namespace trv4 {

// What a panel tells the plant, the same for every way it is published.
struct ShownFacts {
  std::optional<ShownWeight> weight;  // none when the panel shows a text or nothing
  std::string unit;                   // "kg" or "lb"
  std::string text;                   // the panel's text in UTF-8, blanks trimmed
  bool net = false;
  bool motion = false;
  bool centreOfZero = false;
  bool offRange = false;
};

// unitFlag (0 kg, 1 lb) names the unit when the text shows none.
ShownFacts shownFacts(const PanelView& view, int unitFlag);

// unitFlag (0 kg, 1 lb) names the unit when the text shows none; shownAtMs is when the panel
// showed it, in milliseconds since 1970.
std::string weightMessage(char address, const PanelView& view, int unitFlag, int64_t shownAtMs);

// Milliseconds since 1970 as UTC with milliseconds: "2026-12-06T14:03:59.123Z".
std::string isoTime(int64_t ms);

}  // namespace trv4
