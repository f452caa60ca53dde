// The MQTT connection on libmosquitto. A thread of its own connects, reconnects with back-off
// (1 s doubling to 30 s), sends and receives, and sends the goodbye at the end; the
// user-interface thread only queues publications, and hears of events through the Qt event
// loop. A broker that is away, slow or refusing never holds up the caller, not even at the end.
#pragma once

#include <QObject>
#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/mqtt_publisher.h"
#include "net/mqtt_transport.h"
#include "net/net_settings.h"

namespace trv4 {

// The longest a finished transport's thread takes to send its goodbye and end, unless it is stuck
// on the network (a host name being looked up).
inline constexpr std::chrono::milliseconds kMqttGoodbyeLimit{2500};

// After a lost or failed connection the next try waits firstMs, then twice as long each time,
// at most lastMs.
struct MqttBackOff {
  int firstMs = 1000;
  int lastMs = 30000;
};

// What a connection of its own (Sparkplug's) sets beside the broker's settings.
struct MqttConnectionOptions {
  std::string clientId;  // empty: clientId(settings)
  // The will: the broker sends it when the connection dies without a goodbye.
  std::string willTopic;
  std::string willPayload;
  // Set: asked on the transport's thread before each try to connect for that try's will
  // payload (so it must be thread-safe); willPayload is then not used.
  std::function<std::string()> willEachTry;
  int willQos = 1;
  bool willRetain = true;
  // A received payload longer than this is passed cut, with tooLong set.
  std::size_t messageMax = kMqttCommandMax;
  MqttBackOff backOff;
};

class MosquittoTransport : public MqttTransport {
 public:
  // The JSON connection: payload on willTopic as its will, retained, at the settings' QoS.
  MosquittoTransport(const MqttSettings& settings, std::string willTopic, std::string willPayload,
                     MqttBackOff backOff = {});
  MosquittoTransport(const MqttSettings& settings, MqttConnectionOptions options);
  ~MosquittoTransport() override;

  // What keeps these settings from connecting before any try; nullopt when nothing does. Checks
  // the CA file: missing, unreadable or holding no certificate.
  static std::optional<MqttFailure> problem(const MqttSettings& settings);
  // client_id, or trv4-<host name> when it is empty.
  static std::string clientId(const MqttSettings& settings);

  void start(Handlers handlers) override;
  bool publish(const std::string& topic, const std::string& payload, int qos, bool retain) override;
  void subscribe(const std::string& pattern, int qos) override;
  void finish(const std::string& topic, const std::string& payload, int qos, bool retain) override;
  // Captures' publications and their acknowledgements (capture/capture_delivery).
  void setAckHandlers(AckHandlers handlers) override { ackHandlers_ = std::move(handlers); }
  std::optional<int> publishWithId(const std::string& topic, const std::string& payload,
                                   int qos) override;

  // Before start: the first try to connect waits (on the transport's thread, at most
  // kMqttGoodbyeLimit) until these earlier connections have ended, so that their goodbye reaches
  // the broker before this one's "online".
  void follow(std::vector<std::shared_future<void>> earlier);
  // Ready when the thread has ended (at once when it never started).
  std::shared_future<void> end() const { return end_; }
  // Waits up to wait for the thread to end; true when it has.
  bool ended(std::chrono::milliseconds wait);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<QObject> context_;  // queued events die with it
  std::thread worker_;
  std::shared_future<void> end_;
  bool endSet_ = false;  // set by finish when no thread ever ran
  Handlers handlers_;
  // Captures: their handlers, and the ids of their publications not yet acknowledged, so that
  // an acknowledgement reaches the one who published (user-interface thread only).
  AckHandlers ackHandlers_;
  std::set<int> ackIds_;
  void acknowledged(int id);
};

}  // namespace trv4
