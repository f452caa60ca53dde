#include "net/modbus_map.h"

#include <algorithm>

#include "net/shown_weight.h"

namespace trv4 {

std::array<uint16_t, kRegistersPerScale> scaleRegisters(const ScaleReading& r) {
  std::array<uint16_t, kRegistersPerScale> regs{};
  const std::optional<ShownWeight> shown = readShownWeight(r.view.text);
  const bool number = shown.has_value();
  const int32_t value = number ? shown->digits : 0;
  const int decimals = number ? shown->decimals : 0;
  uint16_t bits = 0;
  if (r.answered) bits |= 1;
  if (r.view.netVisible) bits |= 2;
  if (r.view.motionVisible && r.view.motionText == "M") bits |= 4;
  if (showsOffRange(r.view.text)) bits |= 8;
  if (!r.view.text.empty() && !number && !showsOffRange(r.view.text)) bits |= 16;
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
