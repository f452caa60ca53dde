// Numbers as every field of the program reads them: TRV4.INI, what the operator types, weights.
#include "base/numeric_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>

namespace trv4 {
namespace {

TEST(NumericText, ReadsTheLongestNumberAtTheStartWithBlanksIgnoredAnywhere) {
  // clang-format off
  const std::pair<std::string, double> cases[] = {
      // Empty and blank texts, and texts that start with no number, are 0.
      {"", 0}, {"\t\r\n", 0}, {"kg", 0}, {".", 0}, {"e5", 0}, {"--5", 0}, {"\xC2\xA0" "5", 0},
      // Signs, points and digits, blanks (also tabs and line ends) anywhere between them.
      {"+7", 7}, {"-7", -7}, {" - 1 2 . 5 ", -12.5}, {"1\r\n2", 12}, {"0050", 50}, {".5", 0.5},
      {"-.25", -0.25}, {"5.", 5},
      // Reading stops at a second point or sign, a unit, a comma, a character beyond ASCII, a NUL
      // from a noisy line (no exponent letter).
      {"1.2.3", 1.2}, {"12kg", 12}, {"3-4", 3}, {"0x1A", 0}, {"1,5", 1}, {"12\xB0", 12},
      {std::string("12\0" "3", 4), 12}, {std::string(".03\0" "7", 5), 0.03},
      // Exponents with e or d, either case; one without digits is no exponent.
      {"1E3", 1000}, {"2D-2", 0.02}, {"1e+2", 100}, {"1e-", 1}, {"1ee2", 1}, {"1e 2", 100},
      // Far beyond the range of double: its largest magnitude; far below: 0.
      {"1e400", std::numeric_limits<double>::max()},
      {"-1e400", -std::numeric_limits<double>::max()},
      {"1e-400", 0}, {"99999999999999999999", 1e20},
  };
  // clang-format on
  for (const auto& [text, expected] : cases) EXPECT_EQ(numericValue(text), expected) << text;
}

}  // namespace
}  // namespace trv4
