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

// The bit rates the communication settings dialog offers, slowest first.
inline constexpr const char* kOfferedBauds[] = {"600",   "1200",  "2400",  "4800",  "9600",
                                                "19200", "38400", "57600", "115200"};

// The settings, or nullopt with *error set to a text for the operator.
std::optional<LineSettings> parseLineSettings(const std::string& text, std::string* error);

}  // namespace trv4
