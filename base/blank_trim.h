// Text without the blanks around it, as read from files and shown on panels.
#pragma once

#include <string>
#include <string_view>

namespace trv4 {

inline std::string trimBlanks(std::string_view s, std::string_view blanks = " \t\r") {
  const auto b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(blanks);
  return std::string(s.substr(b, e - b + 1));
}

}  // namespace trv4
