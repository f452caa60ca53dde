// The weight message a plant reads: every field, for every kind of panel a scale can show.
#include "net/weight_message.h"

#include <gtest/gtest.h>

#include <string>

namespace trv4 {
namespace {

constexpr int64_t kShownAtMs = 1796565839123;  // 2026-12-06 14:03:59.123 UTC

struct Case {
  PanelView view;
  int unitFlag;
  const char *text, *weight, *unit;
  const char* marks;  // net, motion, offRange: t or f each
};

std::string messageFor(const Case& c) {
  const auto flag = [&](int i) { return c.marks[i] == 't' ? "true" : "false"; };
  return std::string(R"({"address":"A","text":")") + c.text + R"(","weight":)" + c.weight +
         R"(,"unit":")" + c.unit + R"(","net":)" + flag(0) + R"(,"motion":)" + flag(1) +
         R"(,"offRange":)" + flag(2) + R"(,"time":"2026-12-06T14:03:59.123Z"})";
}

TEST(WeightMessage, CarriesTheTextTheNumberTheUnitAndTheMarksThePanelShows) {
  const Case cases[] = {
      {{"12.34 kg"}, 0, "12.34 kg", "12.34", "kg", "fff"},
      // Net and moving; the unit is the text's, whatever the flag says.
      {{"-0.05 lb", true, true, "M"}, 0, "-0.05 lb", "-0.05", "lb", "ttf"},
      // "o" marks the centre of zero, which is no motion.
      {{"0.00 kg", false, true, "o"}, 1, "0.00 kg", "0.00", "kg", "fff"},
      {{"12. kg"}, 0, "12. kg", "12", "kg", "fff"},
      // Off range, also below zero: no weight; the unit is the panels' own.
      {{"Off Range"}, 1, "Off Range", "null", "lb", "fft"},
      {{"-Off Range"}, 0, "-Off Range", "null", "kg", "fft"},
      // A scale's own text, Greek, in UTF-8 without its blanks; a byte the code page lacks.
      {{"\xC6\xD5\xC3\xCF\xD3 "}, 0, "ΖΥΓΟΣ", "null", "kg", "fff"},
      {{" \x81 CAL "}, 1, "� CAL", "null", "lb", "fff"},
      // Quotes, backslashes and control characters escaped, so the message stays JSON.
      {{"a\"b\\c\x01\x1f"}, 0, R"(a\"b\\c\u0001\u001f)", "null", "kg", "fff"},
      // A blanked panel, and texts that only look like weights.
      {{""}, 0, "", "null", "kg", "fff"},
      {{"99999999999 kg"}, 0, "99999999999 kg", "null", "kg", "fff"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(weightMessage('A', c.view, c.unitFlag, kShownAtMs), messageFor(c)) << c.view.text;
  EXPECT_EQ(weightMessage('^', {"1 kg"}, 0, 0).substr(0, 14), R"({"address":"^")");
}

TEST(WeightMessage, TimesAreUtcToTheMillisecond) {
  EXPECT_EQ(isoTime(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(isoTime(1709251199999), "2024-02-29T23:59:59.999Z");
  EXPECT_EQ(isoTime(1709251200000), "2024-03-01T00:00:00.000Z");
  EXPECT_EQ(isoTime(kShownAtMs + 7), "2026-12-06T14:03:59.130Z");
}

}  // namespace
}  // namespace trv4
