// GET /metrics: the Prometheus text exposition (format 0.0.4) of every polled scale's link
// counters, the age of its last reply and the weight its monitor panel shows, and the state of
// the port, MQTT, captures and HTTP itself. Every name begins with "trv4_"; a scale is the label
// scale="A".
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "display/monitor_model.h"
#include "link/link_state.h"
#include "link/link_stats.h"

namespace trv4 {

struct MetricsExtras {
  bool portOpen = false;
  std::optional<bool> mqttConnected;           // nullopt while MQTT is off
  std::optional<std::size_t> capturesWaiting;  // nullopt without captures
  int httpConnections = 0;
  int dashboards = 0;
};

// A scale's weight is left out while its panel shows no number; its reply age before its first
// reply.
std::string metricsText(const MonitorModel& monitor, const LinkState& state, const LinkStats& stats,
                        const MetricsExtras& extras);

}  // namespace trv4
