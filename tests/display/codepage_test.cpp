#include "display/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace trv4 {
namespace {

TEST(CodePage, GreekTextRoundTrips) {
  // "Ζύγιση 12,5 €" in Windows-1253: accented and final letters, the euro sign at 0x80.
  const std::string bytes = "\xC6\xFD\xE3\xE9\xF3\xE7 12,5 \x80";
  const QString text = fromCodePage(bytes);
  EXPECT_EQ(text, QString::fromUtf8("Ζύγιση 12,5 €"));
  EXPECT_EQ(toCodePage(text), bytes);
}

TEST(CodePage, EveryByteMapsToOneCharacter) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const QString text = fromCodePage(all);
  ASSERT_EQ(text.size(), 256);
  // 0xAA, 0xD2 and 0xFF are not defined in the code page.
  EXPECT_EQ(text[0xAA], QChar(0xFFFD));
  EXPECT_EQ(text[0xD2], QChar(0xFFFD));
  EXPECT_EQ(text[0xFF], QChar(0xFFFD));
  EXPECT_EQ(text[0xC1], QChar(0x0391));  // capital alpha
  EXPECT_EQ(text[0x00], QChar(0));       // a zero byte is a character, not the end
}

TEST(CodePage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(toCodePage(QString::fromUtf8("A中\xF0\x9F\x98\x80"
                                         "B")),
            "A??B");
  EXPECT_EQ(toCodePage(QString()), "");
}

}  // namespace
}  // namespace trv4
