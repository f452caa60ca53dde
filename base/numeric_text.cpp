#include "base/numeric_text.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace trv4 {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

double numericValue(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (!isBlank(c)) s.push_back(c);
  }

  // Longest prefix of the form [+-]digits[.digits][(e|d)[+-]digits].
  std::string number;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) number.push_back(s[i++]);
  bool digits = false;
  while (i < s.size() && isDigit(s[i])) {
    number.push_back(s[i++]);
    digits = true;
  }
  if (i < s.size() && s[i] == '.') {
    number.push_back(s[i++]);
    while (i < s.size() && isDigit(s[i])) {
      number.push_back(s[i++]);
      digits = true;
    }
  }
  if (!digits) return 0.0;
  // strchr would also find the terminating NUL: a NUL from the line is no exponent letter.
  if (i < s.size() && s[i] != '\0' && std::strchr("eEdD", s[i]) != nullptr) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent.push_back(s[j++]);
    size_t firstDigit = j;
    while (j < s.size() && isDigit(s[j])) exponent.push_back(s[j++]);
    if (j > firstDigit) number += exponent;
  }

  double value = std::strtod(number.c_str(), nullptr);
  if (std::isinf(value)) {
    value = std::copysign(std::numeric_limits<double>::max(), value);
  }
  return value;
}

}  // namespace trv4
