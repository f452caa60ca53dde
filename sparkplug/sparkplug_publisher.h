// Publishes the line as a Sparkplug B edge node on a connection of its own: the node's birth and
// death, every polled scale a device with its birth, data by exception and death, sequence
// numbers, rebirth on request, Zero, Tare and Gross by DCMD through the command gate, and births
// held until the primary host (when set) says it is online.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "base/toolkit.h"
#include "display/monitor_model.h"
#include "link/link_state.h"
#include "link/link_stats.h"
#include "net/mqtt_publisher.h"
#include "net/mqtt_transport.h"
#include "net/net_settings.h"
#include "sparkplug/sparkplug_metrics.h"

namespace trv4 {

// The death certificate of each connection: the transport's thread asks for it before each try
// to connect (thread-safe), and the births of that connection carry the same bdSeq.
class SparkplugWill {
 public:
  explicit SparkplugWill(std::string ndeathTopic);
  // Advances bdSeq (0 for the first try, then +1, 255 then 0) and returns the NDEATH payload.
  std::string nextTry();
  uint64_t bdSeq() const;  // of the latest try
  const std::string& topic() const { return topic_; }
  std::string payload() const;  // the NDEATH of the latest try (for the clean end)

 private:
  const std::string topic_;
  mutable std::mutex mutex_;
  int tries_ = 0;
  uint64_t bdSeq_ = 0;
};

// Edge node id: settings.edgeNodeId, or the host name when empty.
std::string sparkplugEdgeNodeId(const SparkplugSettings& settings);
// The node's topic of type ("NBIRTH", "NDEATH", "NCMD", ...) for these settings.
std::string sparkplugNodeTopic(const SparkplugSettings& settings, const char* type);

class SparkplugPublisher {
 public:
  SparkplugPublisher(const SparkplugSettings& settings, int heartbeatS, MonitorModel& monitor,
                     LinkState& state, const LinkStats& stats, Toolkit& toolkit,
                     MqttTransport& transport, CommandBlocker blocker, SparkplugWill& will);
  ~SparkplugPublisher();

  void start();   // transport.start(handlers)
  void finish();  // transport.finish(will topic, will payload, 1, false): NDEATH at a clean end

  bool connected() const { return connected_; }
  // NBIRTH sent on this connection (and the primary host, if any, online).
  bool born() const { return born_; }
  // Births, data and deaths handed to the transport since start.
  int64_t messagesPublished() const { return messagesPublished_; }
  // NCMD/DCMD/STATE not taken: malformed, unknown, retained.
  int64_t ignoredMessages() const { return ignoredMessages_; }
  // Well-formed DCMD the gate refused.
  int64_t refusedCommands() const { return refusedCommands_; }

 private:
  void onShown(int scale);
  void heartbeat();
  // Publishes what each marked device owes (birth, data, death) while the in-flight bound lets.
  void flush();
  void birth();
  void death();
  void onConnected();
  void onLost(const MqttFailure& why);
  void onMessage(const std::string& topic, const std::string& payload, bool tooLong, bool retained);
  void onState(const std::string& payload);
  void onNodeCommand(const std::string& payload);
  void onDeviceCommand(int scale, const std::string& topic, const std::string& payload);
  bool publish(const std::string& topic, const std::string& payload, int qos = 0);
  uint64_t nextSeq();
  void ignore(const std::string& key, const std::string& text);
  void tellOnce(const std::string& key, const std::string& text);

  SparkplugSettings settings_;
  std::string edge_;
  int heartbeatS_;
  MonitorModel& monitor_;
  LinkState& state_;
  const LinkStats& stats_;
  Toolkit& toolkit_;
  MqttTransport& transport_;
  CommandBlocker blocker_;
  SparkplugWill& will_;
  std::unique_ptr<Timer> heartbeat_;
  int listener_ = -1;
  bool connected_ = false;
  bool finished_ = false;
  bool born_ = false;
  bool hostOnline_ = false;
  int64_t hostTimestamp_ = -1;  // of the last STATE taken
  int inFlight_ = 0;
  uint64_t seq_ = 0;
  int next_ = 0;                                    // where the round over the devices goes on
  std::array<bool, kMaxScales> alive_{};            // born and not dead since
  std::array<SparkplugDevice, kMaxScales> sent_{};  // what its birth and data said
  std::array<bool, kMaxScales> marked_{};           // to be looked at by the next flush
  std::array<bool, kMaxScales> countersDue_{};      // the heartbeat came: changed counters owed
  std::set<std::string> told_;
  int64_t messagesPublished_ = 0;
  int64_t ignoredMessages_ = 0;
  int64_t refusedCommands_ = 0;
};

}  // namespace trv4
