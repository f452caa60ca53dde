// The line-settings text of a serial port, "9600,N,8,1": baud rate, parity letter, data bits,
// stop bits.
#pragma once

#include <optional>
#include <string>

namespace trv4 {

struct LineSettings {
  int baud = 9600;
  char parity = 'N';  // 'N', 'E', 'O'
  int dataBits = 8;   // 7 or 8
  int stopBits = 1;   // 1 or 2
};

// The settings, or nullopt with *error set to a text for the operator.
std::optional<LineSettings> parseLineSettings(const std::string& text, std::string* error);

}  // namespace trv4
