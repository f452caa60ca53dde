// Reading a number out of text the way every field of the program is read: blanks are ignored
// wherever they stand, reading stops at the first character that cannot continue the number
// (optional sign, digits, one decimal point, an exponent), and text that does not start with a
// number gives 0.
#pragma once

#include <string_view>

namespace trv4 {

// Always finite: a value beyond the range of double is clamped to its largest magnitude.
double numericValue(std::string_view text);

}  // namespace trv4
