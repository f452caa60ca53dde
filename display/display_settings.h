// Display settings and address selection owned by the single-scale window; read by the weight
// formatting, the scan cycle and the command queue.
#pragma once

#include <string>

namespace trv4 {

struct DisplaySettings {
  std::string SingleScale = "A";  // selected address, "A".."^" or "@"
  std::string StepCombo = "01";   // display step text
};

}  // namespace trv4
