#include "display/weight_format.h"

#include <gtest/gtest.h>

#include <string>

namespace trv4 {
namespace {

TEST(FormatWeight, RoundsToTheStepInTheFieldsResolution) {
  const struct {
    std::string field;
    int unitFlag;
    std::string step, expected;
  } cases[] = {
      {"012.34", 0, "01", "12.34 kg"},
      {"012.34", 0, "05", "12.35 kg"},  // 246.8 steps go up
      {"012.32", 0, "05", "12.30 kg"},  // 246.4 steps go down
      {"001234", 0, "10", "1230 kg"},   // a field without a point has no decimals
      {"  10.0", 1, "01", "22.0 lb"},
      {"012.25", 0, "50", "12.50 kg"},  // exactly half a step of 0.50 goes up
      // Single precision: 54.13 kg is 11933.4998 hundredths of a pound, 11933.5 as a float.
      {"054.13", 1, "01", "119.34 lb"},
      {"012.34", 0, "0", "12.34 kg"},  // a step of 0 is taken as 1
      // A step so small the step count overflows a float.
      {"012.34", 0, "1e-40", "Off Range"},
      // Up to 2147483647 units of the field's last digit, what the plant's readers hold.
      {"2.1e6", 0, "01", "2100000.000 kg"},
      {"2.2e6", 0, "01", "Off Range"},
      {".1D07 ", 0, "01", "Off Range"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatWeight(c.field, c.unitFlag, c.step), c.expected)
        << "\"" << c.field << "\" unit " << c.unitFlag << " step \"" << c.step << "\"";
  }
}

TEST(DisplayRule, CombinesTheStatusBits) {
  constexpr int T = TextBit, N = NetBit, M = MarkBit, O = OffRangeBit, S = StableBit,
                G = NegativeBit;
  auto status = [](int bits, const char* field) { return char(0x40 | bits) + std::string(field); };
  const struct {
    std::string st;
    const char* motionBefore;  // the caption the previous reply left
    PanelView expected;        // text, net shown, motion shown, motion caption
  } cases[] = {
      {status(S, "012.34"), "o", {"12.34 kg", false, false, "o"}},  // hidden, caption kept
      {status(S | N, "012.34"), "M", {"12.34 kg", true, false, "M"}},
      {status(0, "012.34"), "o", {"12.34 kg", false, true, "M"}},
      {status(S | M, "012.34"), "M", {"12.34 kg", false, true, "o"}},
      {status(T | N | O | G, " CORN."), "M", {" CORN.", false, false, "M"}},
      {status(O | N, "012.34"), "M", {"Off Range", false, false, "M"}},
      {status(O | G | N | S | M, "012.34"), "M", {"-Off Range", false, false, "o"}},
      {status(G | S, " 0.000"), "M", {"-0.000 kg", false, false, "M"}},
      {status(S | N | G, "9e9999"), "M", {"-Off Range", false, false, "M"}},
      {status(0x90, "012.34"), "M", {"12.34 kg", false, false, "M"}},  // flags byte 0xD0
      // Shorter than seven characters: the flags character is part of the weight field.
      {"05.5", "M", {"-5.5 kg", false, false, "M"}},  // "0" is 0x30: stable and negative
      {status(S, "12"), "M", {"0 kg", false, false, "M"}},
      {"", "o", {"0 kg", false, true, "M"}},
  };
  for (const auto& c : cases) {
    PanelView view{"old", true, true, c.motionBefore};
    applyDisplayRule(c.st, 0, "01", view);
    EXPECT_EQ(view, c.expected) << c.st << " shows " << view.text;
  }
}

}  // namespace
}  // namespace trv4
