// GET /metrics: the Prometheus text exposition (format 0.0.4) of every polled scale's link
// counters, the age of its last reply and the weight its monitor panel shows, and the state of
// the port, MQTT, captures and HTTP itself. Every name begins with "trv4_"; a scale is the label
// scale="A".
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "net/plant_board.h"

namespace trv4 {

struct MetricsExtras {
  std::optional<std::size_t> capturesWaiting;  // nullopt without captures
  int httpConnections = 0;
  int dashboards = 0;
};

// A scale's weight is left out while its panel shows no number; its reply age before its first
// reply.
std::string metricsText(const PlantSnapshot& snapshot, const MetricsExtras& extras);

}  // namespace trv4
