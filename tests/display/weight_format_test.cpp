#include "display/weight_format.h"

#include <gtest/gtest.h>

#include <string>

namespace trv4 {
namespace {

struct FormatCase {
  std::string field;
  int unitFlag;
  std::string step;
  std::string expected;
};

TEST(FormatWeight, RoundsToTheStepInTheFieldsResolution) {
  const FormatCase cases[] = {
      {"012.34", 0, "01", "12.34 kg"},
      {"012.34", 0, "05", "12.35 kg"},  // n = 246.8 goes up
      {"012.32", 0, "05", "12.30 kg"},  // n = 246.4 goes down
      {"001234", 0, "01", "1234 kg"},
      {"001234", 0, "10", "1230 kg"},
      {"  10.0", 1, "01", "22.0 lb"},
      {"  0.00", 0, "01", "0.00 kg"},
      {" 0.000", 0, "01", "0.000 kg"},
      // Step 50 with two decimals: steps of 0.50, exactly half a step rounds up.
      {"012.25", 0, "50", "12.50 kg"},
      {"012.24", 0, "50", "12.00 kg"},
      {"012.75", 0, "50", "13.00 kg"},
      // The point as the last character: no decimals, the text ends in the point.
      {"12345.", 0, "01", "12345. kg"},
      {"12348.", 0, "05", "12350. kg"},
      {"12347.", 0, "05", "12345. kg"},
      // Pounds are applied before rounding: 11.023 lb in steps of 0.05.
      {"005.00", 1, "05", "11.00 lb"},
      {"999999", 1, "01", "2204598 lb"},
      // Single precision: 54.13 kg is 11933.4998 hundredths of a pound, which as a float is
      // 11933.5 and rounds up; 79.13 kg in steps of 0.10 lb likewise.
      {"054.13", 1, "01", "119.34 lb"},
      {"079.13", 1, "10", "174.50 lb"},
      // Step text read as a number: blanks ignored; 0, empty and junk fall back to step 1.
      {"012.34", 0, " 5", "12.35 kg"},
      {"012.34", 0, "0", "12.34 kg"},
      {"012.34", 0, "", "12.34 kg"},
      {"012.34", 0, "x5", "12.34 kg"},
      {"012.34", 0, "1e99", "12.34 kg"},  // beyond float range
      // Junk fields read as far as they are a number.
      {"ABCDEF", 0, "01", "0 kg"},
      {"1A2.34", 0, "01", "1.00 kg"},
      {"12.3.4", 0, "01", "12.300 kg"},
      {"", 0, "01", "0 kg"},
      {"  .   ", 0, "01", "0.000 kg"},
      // Weights no field can hold, and a step that makes n overflow a float.
      {"9e9999", 0, "01", "Off Range"},
      {"999e99", 1, "01", "Off Range"},
      {"012.34", 0, "1e-40", "Off Range"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatWeight(c.field, c.unitFlag, c.step), c.expected)
        << "field \"" << c.field << "\" unit " << c.unitFlag << " step \"" << c.step << "\"";
  }
}

// A status text made of a flags character with the given bits and a weight field.
std::string status(int bits, const std::string& field) {
  return std::string(1, static_cast<char>(0x40 | bits)) + field;
}

struct RuleCase {
  const char* what;
  std::string st;
  std::string motionBefore;  // the motion caption left by the previous reply
  PanelView expected;        // text, net, motion shown, motion caption
};

TEST(DisplayRule, CombinesTheStatusBits) {
  const int S = StableBit;
  const RuleCase cases[] = {
      {"stable", status(S, "012.34"), "M", {"12.34 kg", false, false, "M"}},
      {"stable without mark hides and keeps the caption",
       status(S, "012.34"),
       "o",
       {"12.34 kg", false, false, "o"}},
      {"net", status(S | NetBit, "012.34"), "M", {"12.34 kg", true, false, "M"}},
      {"moving", status(0, "012.34"), "o", {"12.34 kg", false, true, "M"}},
      {"mark while moving", status(MarkBit, "012.34"), "o", {"12.34 kg", false, true, "M"}},
      {"stable with mark", status(S | MarkBit, "012.34"), "M", {"12.34 kg", false, true, "o"}},
      {"text wins",
       status(TextBit | NetBit | OffRangeBit | NegativeBit, " CORN."),
       "M",
       {" CORN.", false, false, "M"}},
      {"text keeps blanks",
       status(TextBit | S | MarkBit, "ERR 9 "),
       "M",
       {"ERR 9 ", false, false, "o"}},
      {"off range hides",
       status(OffRangeBit | NetBit, "012.34"),
       "M",
       {"Off Range", false, false, "M"}},
      {"off range negative",
       status(OffRangeBit | NegativeBit | NetBit | S | MarkBit, "012.34"),
       "M",
       {"-Off Range", false, false, "o"}},
      {"negative zero", status(NegativeBit | S, " 0.000"), "M", {"-0.000 kg", false, false, "M"}},
      {"negative net, blanks trimmed",
       status(NegativeBit | S | NetBit, "  10.0"),
       "M",
       {"-10.0 kg", true, false, "M"}},
      {"unreadable weight",
       status(S | NetBit | NegativeBit, "9e9999"),
       "M",
       {"-Off Range", false, false, "M"}},
      {"letters without text bit", status(S, "ABCDEF"), "M", {"0 kg", false, false, "M"}},
      {"middle characters not read", status(S, "xyz012.34"), "M", {"12.34 kg", false, false, "M"}},
      {"Greek flags byte", std::string("\xD0") + "012.34", "M", {"12.34 kg", false, false, "M"}},
      // Shorter than seven characters: the flags character is part of the weight field.
      // "0" is 0x30: StableBit and NegativeBit.
      {"short text", "05.5", "M", {"-5.5 kg", false, false, "M"}},
      {"short text with letter flags", status(S, "12"), "M", {"0 kg", false, false, "M"}},
      {"empty text", "", "o", {"0 kg", false, true, "M"}},
  };
  for (const auto& c : cases) {
    PanelView view;
    view.text = "old";
    view.netVisible = true;
    view.motionVisible = true;
    view.motionText = c.motionBefore;
    applyDisplayRule(c.st, 0, "01", view);
    EXPECT_EQ(view.text, c.expected.text) << c.what;
    EXPECT_EQ(view.netVisible, c.expected.netVisible) << c.what;
    EXPECT_EQ(view.motionVisible, c.expected.motionVisible) << c.what;
    EXPECT_EQ(view.motionText, c.expected.motionText) << c.what;
  }
}

TEST(DisplayRule, UsesTheUnitAndStepItIsGiven) {
  PanelView view;
  applyDisplayRule(status(StableBit | NegativeBit, "012.34"), 1, "05", view);
  EXPECT_EQ(view.text, "-27.20 lb");  // 27.2048 lb in steps of 0.05
}

}  // namespace
}  // namespace trv4
