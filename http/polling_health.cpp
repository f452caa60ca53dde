#include "http/polling_health.h"

namespace trv4 {

std::string pollingProblem(const PollingView& v) {
  if (!v.portOpen) return "the serial port is closed";
  if (v.suspended) return "polling is paused while Find Scales searches the line";
  if (!v.anyPolled) return "no scale is polled";
  if (v.sinceSentMs > kPollingStallMs)
    return "polling has sent nothing for " + std::to_string(v.sinceSentMs / 1000) + " s";
  return {};
}

}  // namespace trv4
