#include "link/port_settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace trv4 {

namespace {

// The rates a serial adapter commonly offers; the settings dialog shows a subset of them.
constexpr std::array<int, 16> kBaudRates = {110,    150,    300,    600,   1200,  2400,
                                            4800,   9600,   14400,  19200, 38400, 57600,
                                            115200, 230400, 460800, 921600};

std::vector<std::string> splitFields(const std::string& text) {
  std::vector<std::string> fields(1);
  for (char c : text) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<LineSettings> refuse(std::string* error, const std::string& text,
                                   const std::string& why) {
  if (error) *error = "Invalid line settings \"" + text + "\": " + why;
  return std::nullopt;
}

}  // namespace

std::optional<LineSettings> parseLineSettings(const std::string& text, std::string* error) {
  const std::vector<std::string> f = splitFields(text);
  if (f.size() != 4) {
    return refuse(error, text,
                  "expected baud rate, parity, data bits, stop bits (e.g. 9600,N,8,1)");
  }
  LineSettings s;

  // At most seven digits keeps the conversion far from overflow.
  if (f[0].empty()) return refuse(error, text, "no baud rate");
  if (!allDigits(f[0]) || f[0].size() > 7) return refuse(error, text, "bad baud rate");
  s.baud = std::stoi(f[0]);
  if (std::find(kBaudRates.begin(), kBaudRates.end(), s.baud) == kBaudRates.end()) {
    return refuse(error, text, "baud rate " + f[0] + " not supported");
  }

  const char p = f[1].size() == 1
                     ? static_cast<char>(std::toupper(static_cast<unsigned char>(f[1][0])))
                     : '\0';
  if (p != 'N' && p != 'E' && p != 'O') return refuse(error, text, "parity must be N, E or O");
  s.parity = p;

  if (f[2] != "7" && f[2] != "8") return refuse(error, text, "data bits must be 7 or 8");
  s.dataBits = f[2][0] - '0';

  if (f[3] != "1" && f[3] != "2") return refuse(error, text, "stop bits must be 1 or 2");
  s.stopBits = f[3][0] - '0';
  return s;
}

}  // namespace trv4
