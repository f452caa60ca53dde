// Sparkplug B as both programs run it: a connection of its own to the broker of [mqtt], whose
// will is the edge node's death certificate made afresh for each try, and the publisher on it.
// Started and stopped with publishing (plant/plant_services), so the Publishing dialog's OK
// restarts it; a new connection waits for the old one's NDEATH to leave before it connects.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "display/monitor_model.h"
#include "link/link_state.h"
#include "link/link_stats.h"
#include "net/mqtt_publisher.h"
#include "net/net_settings.h"
#include "net/plant_board.h"

namespace trv4 {

class MosquittoTransport;
class SparkplugPublisher;
class SparkplugWill;

// Sparkplug's commands and host states are a few metrics or a small JSON object: longer ones are
// cut and ignored.
inline constexpr std::size_t kSparkplugMessageMax = 4096;

// The client id of Sparkplug's connection: the JSON connection's with "-sparkplug".
std::string sparkplugClientId(const MqttSettings& mqtt);

class SparkplugService {
 public:
  // Commands are queued only where blocker lets them (MQTT's gate).
  SparkplugService(MonitorModel& monitor, LinkState& state, const LinkStats& stats,
                   Toolkit& toolkit, CommandBlocker blocker);
  // Stops, then waits for the NDEATH as awaitGoodbyes does.
  ~SparkplugService();
  SparkplugService(const SparkplugService&) = delete;
  SparkplugService& operator=(const SparkplugService&) = delete;

  // Starts when settings.sparkplug is enabled, on the broker settings.mqtt names (whether or not
  // MQTT's own publishing is on). A CA file that cannot work is told once and Sparkplug stays off.
  void start(const NetSettings& settings);
  // A clean end: NDEATH to the broker, on the connection's own thread. Returns at once.
  void stop();
  // Waits until `until` at most for the connections stopped to end, so the NDEATH leaves.
  void awaitGoodbyes(std::chrono::steady_clock::time_point until);

  // Null while Sparkplug is off.
  const SparkplugPublisher* publisher() const { return publisher_.get(); }
  // For the plant board; nullopt while Sparkplug is off.
  std::optional<SparkplugCounters> counters() const;

 private:
  MonitorModel& monitor_;
  LinkState& state_;
  const LinkStats& stats_;
  Toolkit& toolkit_;
  CommandBlocker blocker_;
  // Kept over restarts with the same NDEATH topic, so bdSeq goes on for that edge node. Shared
  // with the transports' threads, which ask it for each try's will.
  std::shared_ptr<SparkplugWill> will_;
  std::vector<std::unique_ptr<MosquittoTransport>> ending_;
  std::unique_ptr<MosquittoTransport> transport_;
  std::unique_ptr<SparkplugPublisher> publisher_;  // after the transport it uses
};

}  // namespace trv4
