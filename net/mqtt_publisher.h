// Publishes what the monitor shows to an MQTT broker:
//   <prefix>/<address>/weight  retained JSON (net/weight_message.h), when the panel of a polled
//                              scale changes and at least every heartbeat, from the panel's
//                              first answer or blanking on
//   <prefix>/status            retained "online" while connected; "offline" as the will and at
//                              a clean end
//   <prefix>/<address>/command with commands on: "Z", "T" or "G" queued for that scale ("@":
//                              all scales), as the single-scale window's buttons queue them,
//                              when it can leave at the next scan step; else refused, never
//                              kept for later. A retained command is never taken.
// While the broker is away only one pending mark per scale is kept, and at most a few
// publications are in flight at a time, so memory stays bounded however long it is away.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "base/toolkit.h"
#include "display/monitor_model.h"
#include "link/link_state.h"
#include "net/mqtt_transport.h"
#include "net/net_settings.h"

namespace trv4 {

// Publications handed to the transport and not yet delivered, at most.
inline constexpr int kMqttInFlight = 32;
// A command payload longer than this is no command.
inline constexpr std::size_t kMqttCommandMax = 16;

// Why a command from the plant for an address ("A".."^", or "@" for all) may not be queued now,
// as a clause of a sentence ("the scale is not polled"); empty when it may.
using CommandBlocker = std::function<std::string(const std::string& address)>;

class MqttPublisher {
 public:
  // Commands are taken only where blocker lets them; without one, none is.
  MqttPublisher(const MqttSettings& settings, MonitorModel& monitor, LinkState& state,
                Toolkit& toolkit, MqttTransport& transport, CommandBlocker blocker);
  ~MqttPublisher();

  void start();
  // "offline" to the broker, then the connection ends.
  void finish();

  bool connected() const { return connected_; }
  // Messages on the command topics that were not taken as a command: malformed, or retained.
  int64_t ignoredCommands() const { return ignoredCommands_; }
  // Well-formed commands the blocker refused.
  int64_t refusedCommands() const { return refusedCommands_; }
  // Tries to connect that failed and connections that ended, since start.
  int64_t failures() const { return failures_; }
  // Publications of weight topics handed to the transport since start.
  int64_t weightsPublished() const { return weightsPublished_; }

  std::string statusTopic() const { return settings_.prefix + "/status"; }
  std::string weightTopic(int scale) const;

 private:
  void onShown(int scale);
  void heartbeat();
  void flush();
  void onConnected();
  void onLost(const MqttFailure& why);
  void onMessage(const std::string& topic, const std::string& payload, bool tooLong, bool retained);
  // Tells text once for each key.
  void tellOnce(const std::string& key, const std::string& text);

  MqttSettings settings_;
  MonitorModel& monitor_;
  LinkState& state_;
  Toolkit& toolkit_;
  MqttTransport& transport_;
  CommandBlocker blocker_;
  std::unique_ptr<Timer> heartbeat_;
  int listener_ = -1;
  bool connected_ = false;
  bool finished_ = false;
  int inFlight_ = 0;
  int next_ = 0;  // where the round over pending scales goes on
  std::array<bool, kMaxScales> pending_{};
  std::array<PanelView, kMaxScales> sent_{};
  std::array<bool, kMaxScales> everSent_{};
  // The panel has shown an answer or been blanked since start: until then it is not published,
  // so a restart never puts an empty panel over the weight the broker keeps.
  std::array<bool, kMaxScales> spoken_{};
  std::array<int64_t, kMaxScales> shownAt_{};
  std::set<std::string> told_;  // causes already told
  int64_t ignoredCommands_ = 0;
  int64_t refusedCommands_ = 0;
  int64_t weightsPublished_ = 0;
  int64_t failures_ = 0;
};

}  // namespace trv4
