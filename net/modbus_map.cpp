#include "net/modbus_map.h"

#include <algorithm>
#include <cctype>

namespace trv4 {

namespace {

// "-12.34 kg" as -1234 with 2 decimals; false for a text that shows no number.
bool shownDigits(const std::string& text, int32_t* value, int* decimals) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos || blank == 0) return false;
  const std::string unit = text.substr(blank);
  if (unit != " kg" && unit != " lb") return false;
  int64_t v = 0;
  int places = -1;
  bool negative = false, digits = false;
  for (std::size_t i = 0; i < blank; ++i) {
    const char c = text[i];
    if (i == 0 && c == '-') {
      negative = true;
    } else if (c == '.' && places < 0) {
      places = 0;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      v = v * 10 + (c - '0');
      if (v > INT32_MAX) return false;
      digits = true;
      if (places >= 0) ++places;
    } else {
      return false;
    }
  }
  if (!digits) return false;
  *value = static_cast<int32_t>(negative ? -v : v);
  *decimals = std::max(places, 0);
  return true;
}

}  // namespace

std::array<uint16_t, kRegistersPerScale> scaleRegisters(const ScaleReading& r) {
  std::array<uint16_t, kRegistersPerScale> regs{};
  int32_t value = 0;
  int decimals = 0;
  const bool number = shownDigits(r.view.text, &value, &decimals);
  uint16_t bits = 0;
  if (r.answered) bits |= 1;
  if (r.view.netVisible) bits |= 2;
  if (r.view.motionVisible && r.view.motionText == "M") bits |= 4;
  if (r.view.text == kOffRangeText) bits |= 8;
  if (!r.view.text.empty() && !number && r.view.text != kOffRangeText) bits |= 16;
  if (r.view.motionVisible && r.view.motionText == "o") bits |= 32;
  regs[0] = bits;
  const auto u = static_cast<uint32_t>(value);
  regs[1] = static_cast<uint16_t>(u >> 16);
  regs[2] = static_cast<uint16_t>(u & 0xFFFF);
  regs[3] = static_cast<uint16_t>(decimals);
  regs[4] = r.unitFlag != 0 ? 1 : 0;
  regs[5] = r.sinceReplyMs < 0
                ? 65535
                : static_cast<uint16_t>(std::min<int64_t>(r.sinceReplyMs / 100, 65535));
  return regs;
}

}  // namespace trv4
