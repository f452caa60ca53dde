// A scale as a Sparkplug device: its metrics from what the panel shows, the link's unit and the
// scale's exchange counters, and the payloads of the node and its devices (births, data of the
// metrics that changed, deaths), encoded by the generated protobuf classes. The other way, the
// node's and the devices' commands decoded, with why one is not taken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "display/weight_format.h"
#include "link/link_stats.h"

namespace trv4 {

// Data type numbers of the payload's metrics.
enum class SparkplugType : uint32_t {
  Int32 = 3,
  Int64 = 4,
  UInt64 = 8,
  Double = 10,
  Boolean = 11,
  String = 12,
};

// The device's metrics, in birth order: one bit each in a SparkplugMetrics mask.
enum class DeviceMetric : int {
  Weight,
  Text,
  Net,
  Motion,
  CentreOfZero,
  OffRange,
  Answering,
  Decimals,
  Requests,
  Replies,
  Timeouts,
  Naks,
  BadFrames,
  Count
};
using SparkplugMetrics = uint32_t;
inline constexpr SparkplugMetrics metricBit(DeviceMetric m) {
  return SparkplugMetrics{1} << static_cast<int>(m);
}
// What the panel shows, and the exchange counters (sent only at the heartbeat).
inline constexpr SparkplugMetrics kPanelMetrics = metricBit(DeviceMetric::Requests) - 1;
inline constexpr SparkplugMetrics kCounterMetrics =
    (metricBit(DeviceMetric::Count) - 1) & ~kPanelMetrics;

// The metric's name in payloads ("Weight", "Link/Requests", ...).
const char* deviceMetricName(DeviceMetric m);

struct SparkplugDevice {
  std::optional<double> weight;  // none when the panel shows no number
  std::string unit;              // "kg" or "lb": the weight's engUnit
  std::string text;              // the panel's text, UTF-8
  bool net = false;
  bool motion = false;
  bool centreOfZero = false;
  bool offRange = false;
  bool answering = false;  // the panel is not blank
  int32_t decimals = 0;
  uint64_t requests = 0;
  uint64_t replies = 0;
  uint64_t timeouts = 0;
  uint64_t naks = 0;
  uint64_t badFrames = 0;

  bool operator==(const SparkplugDevice&) const = default;
};

// The device as the panel, the unit flag (0 kg, else lb) and the counters make it.
SparkplugDevice sparkplugDevice(const PanelView& view, int unitFlag, const ScaleCounters& counters);

// The metrics whose values differ between two states of a device.
SparkplugMetrics changedMetrics(const SparkplugDevice& before, const SparkplugDevice& now);
// before with the metrics of mask taken from now.
SparkplugDevice withMetrics(SparkplugDevice before, const SparkplugDevice& now,
                            SparkplugMetrics mask);

// Payloads; timestamps are ms since 1970.
std::string nodeBirthPayload(uint64_t bdSeq, int64_t timestampMs);
std::string nodeDeathPayload(uint64_t bdSeq);
// Every metric with its type and value; Zero, Tare and Gross (false) too with commands on.
std::string deviceBirthPayload(const SparkplugDevice& device, bool commands, int64_t timestampMs,
                               uint64_t seq);
// The metrics of mask only.
std::string deviceDataPayload(const SparkplugDevice& device, SparkplugMetrics mask,
                              int64_t timestampMs, uint64_t seq);
std::string deviceDeathPayload(int64_t timestampMs, uint64_t seq);

// What an NCMD or a DCMD asks; refused says why it is not taken (empty when it is).
struct SparkplugCommand {
  bool rebirth = false;               // NCMD: Node Control/Rebirth = true
  std::vector<std::string> commands;  // DCMD: "Z", "T", "G" in the payload's order
  std::string refused;                // a clause: "the payload does not decode", ...
};

SparkplugCommand decodeNodeCommand(const std::string& payload);
// commands: whether Zero, Tare and Gross are metrics of the devices at all.
SparkplugCommand decodeDeviceCommand(const std::string& payload, bool commands);

}  // namespace trv4
