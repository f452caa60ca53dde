// The weight message a plant's subscriber reads: every field beside the weight, for every kind of
// panel a scale can show.
#include "net/weight_message.h"

#include <gtest/gtest.h>

#include <string>

namespace trv4 {
namespace {

constexpr int64_t kShownAtMs = 1796565839123;  // 2026-12-06 14:03:59.123 UTC

struct Case {
  PanelView view;
  int unitFlag;
  std::string fields;  // from "text" to "offRange"
};

TEST(WeightMessage, CarriesTheTextTheNumberTheUnitAndTheMarksThePanelShows) {
  const Case cases[] = {
      {{"12.34 kg"},
       0,
       R"("text":"12.34 kg","weight":12.34,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      // Net and moving; the unit is the text's, whatever the flag says.
      {{"-0.05 lb", true, true, "M"},
       0,
       R"("text":"-0.05 lb","weight":-0.05,"unit":"lb","net":true,"motion":true,"offRange":false)"},
      // "o" marks the centre of zero, which is no motion.
      {{"0.00 kg", false, true, "o"},
       1,
       R"("text":"0.00 kg","weight":0.00,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      {{"0.50 kg"},
       0,
       R"("text":"0.50 kg","weight":0.50,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      {{"-0.5 lb"},
       1,
       R"("text":"-0.5 lb","weight":-0.5,"unit":"lb","net":false,"motion":false,"offRange":false)"},
      {{"1500 kg"},
       0,
       R"("text":"1500 kg","weight":1500,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      {{"12. kg"},
       0,
       R"("text":"12. kg","weight":12,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      // Off range, also below zero: no weight; the unit is the panels' own.
      {{"Off Range"},
       1,
       R"("text":"Off Range","weight":null,"unit":"lb","net":false,"motion":false,"offRange":true)"},
      {{"-Off Range"},
       0,
       R"("text":"-Off Range","weight":null,"unit":"kg","net":false,"motion":false,"offRange":true)"},
      // A scale's own text, Greek, in UTF-8 without its blanks; a byte the code page lacks.
      {{"\xC6\xD5\xC3\xCF\xD3 "},
       0,
       R"("text":"ΖΥΓΟΣ","weight":null,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      {{" \x81 CAL "},
       1,
       R"("text":"� CAL","weight":null,"unit":"lb","net":false,"motion":false,"offRange":false)"},
      // Quotes, backslashes and control characters escaped, so the message stays JSON.
      {{"a\"b\\c\x01\x1f"},
       0,
       R"("text":"a\"b\\c\u0001\u001f","weight":null,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      // A blanked panel, and texts that only look like weights.
      {{""},
       0,
       R"("text":"","weight":null,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      {{"12.34 kgs"},
       0,
       R"("text":"12.34 kgs","weight":null,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      {{"1.2.3 kg"},
       0,
       R"("text":"1.2.3 kg","weight":null,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      {{"- kg"},
       0,
       R"("text":"- kg","weight":null,"unit":"kg","net":false,"motion":false,"offRange":false)"},
      {{"99999999999 kg"},
       0,
       R"("text":"99999999999 kg","weight":null,"unit":"kg","net":false,"motion":false,"offRange":false)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(weightMessage('A', c.view, c.unitFlag, kShownAtMs),
              R"({"address":"A",)" + c.fields + R"(,"time":"2026-12-06T14:03:59.123Z"})")
        << c.view.text;
  }
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
