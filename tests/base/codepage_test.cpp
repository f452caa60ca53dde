#include "base/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace trv4 {
namespace {

// The bytes Windows-1253 leaves undefined.
constexpr std::string_view kUndefined =
    "\x81\x88\x8A\x8C\x8D\x8E\x8F\x90\x98\x9A\x9C\x9D\x9E\x9F\xAA\xD2\xFF";

// Every byte round-trips or is undefined and shows as U+FFFD, alike on Linux and Windows.
TEST(CodePage, EveryByteRoundTripsOrShowsAsReplacement) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const std::string text = codePageToUtf8(byte);
    if (kUndefined.find(byte[0]) != kUndefined.npos) {
      EXPECT_EQ(text, "\xEF\xBF\xBD") << b;
    } else {
      EXPECT_NE(text, "\xEF\xBF\xBD") << b;
      EXPECT_EQ(utf8ToCodePage(text), byte) << b;
    }
  }
  EXPECT_EQ(codePageToUtf8("\xC1\xE2\x80 \xA2\xF9"), "Αβ€ Άω");
  EXPECT_EQ(codePageToUtf8(std::string("a\0\x81z", 4)), std::string("a\0\xEF\xBF\xBDz", 6));
}

// What the code page cannot hold becomes one "?" per character, with no look-alike ("é" is no
// "e"); malformed UTF-8 becomes one "?" per broken sequence, and the text after it survives.
TEST(CodePage, UnconvertibleCharactersAndMalformedTextBecomeQuestionMarks) {
  EXPECT_EQ(utf8ToCodePage("Ωmega 5€"), "\xD9mega 5\x80");
  EXPECT_EQ(utf8ToCodePage("café ж 😀"), "caf? ? ?");
  EXPECT_EQ(utf8ToCodePage("\xC2\x81|\xEE\x80\x80"), "?|?");  // C1 control, private use
  EXPECT_EQ(utf8ToCodePage("\x80|\xC0\x80|\xED\xA0\x80|\xF4\x90\x80\x80|\xFF"), "?|?|?|?|?");
  EXPECT_EQ(utf8ToCodePage("\xE2\x82|A\xE2\x82"), "?|A?");  // cut short inside and at the end
}

}  // namespace
}  // namespace trv4
