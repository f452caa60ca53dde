// Screen geometry is laid out in twips; 15 twips make one device-independent pixel.
#pragma once

namespace trv4 {

constexpr int twips(int t) {
  return (t + 7) / 15;
}

}  // namespace trv4
