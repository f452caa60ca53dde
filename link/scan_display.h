// What the scan link shows: the monitor's panels. The monitor model implements this; the link
// only calls it, so the link does not depend on the display code.
#pragma once

#include <cstdint>
#include <string>

namespace trv4 {

class ScanDisplay {
 public:
  virtual ~ScanDisplay() = default;
  // An accepted status reply of scale scl (payload as received).
  virtual void DispWeight(int16_t scl, const std::string& status) = 0;
  // The scale's countdown ran out: empty weight text, both indicators hidden.
  virtual void blankPanel(int scale) = 0;
  // The address label of the scale being polled is highlighted; the previous one is not.
  virtual void setAddressHighlight(int scale, bool polled) = 0;
};

}  // namespace trv4
