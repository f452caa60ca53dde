// The Modbus input registers of one scale: eight at 8 * index (scale "A" at 0, "^" at 232), read
// from what the monitor shows.
//   +0 status bits: 0 answered within the display hold, 1 net, 2 motion, 3 off range,
//      4 a text is shown, 5 centre of zero
//   +1, +2 the weight as a signed 32-bit number in units of its last shown digit, high word first
//   +3 the number of decimals shown   +4 unit: 0 kg, 1 lb
//   +5 time since the last reply in units of 100 ms, at most 65535   +6, +7 zero
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "display/weight_format.h"

namespace trv4 {

inline constexpr int kRegistersPerScale = 8;

struct ScaleReading {
  PanelView view;             // what the monitor panel shows
  bool answered = false;      // its display hold has not run out
  int unitFlag = 0;           // 0 kg, 1 lb
  int64_t sinceReplyMs = -1;  // -1: never answered
};

std::array<uint16_t, kRegistersPerScale> scaleRegisters(const ScaleReading& r);

}  // namespace trv4
