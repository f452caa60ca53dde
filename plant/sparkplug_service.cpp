#include "plant/sparkplug_service.h"

#include <algorithm>

#include "net/mosquitto_transport.h"
#include "sparkplug/sparkplug_publisher.h"

namespace trv4 {

std::string sparkplugClientId(const MqttSettings& mqtt) {
  return MosquittoTransport::clientId(mqtt) + "-sparkplug";
}

SparkplugService::SparkplugService(MonitorModel& monitor, LinkState& state, const LinkStats& stats,
                                   Toolkit& toolkit, CommandBlocker blocker)
    : monitor_(monitor),
      state_(state),
      stats_(stats),
      toolkit_(toolkit),
      blocker_(std::move(blocker)) {}

SparkplugService::~SparkplugService() {
  stop();
  awaitGoodbyes(std::chrono::steady_clock::now() + kMqttGoodbyeLimit);
}

void SparkplugService::start(const NetSettings& settings) {
  if (!settings.sparkplug.enabled || transport_) return;
  if (const std::optional<MqttFailure> why = MosquittoTransport::problem(settings.mqtt)) {
    // Publishing has told it already when MQTT is on.
    if (!settings.mqtt.enabled) toolkit_.messageBox(mqttFailureText(*why));
    return;
  }
  const std::string ndeath = sparkplugNodeTopic(settings.sparkplug, "NDEATH");
  if (!will_ || will_->topic() != ndeath) will_ = std::make_shared<SparkplugWill>(ndeath);

  MqttConnectionOptions own;
  own.clientId = sparkplugClientId(settings.mqtt);
  own.willTopic = ndeath;
  own.willEachTry = [will = will_] { return will->nextTry(); };
  own.willQos = 1;
  own.willRetain = false;
  own.messageMax = kSparkplugMessageMax;
  transport_ = std::make_unique<MosquittoTransport>(settings.mqtt, std::move(own));
  std::vector<std::shared_future<void>> earlier;
  for (const auto& t : ending_) earlier.push_back(t->end());
  transport_->follow(std::move(earlier));
  publisher_ =
      std::make_unique<SparkplugPublisher>(settings.sparkplug, settings.mqtt.heartbeatS, monitor_,
                                           state_, stats_, toolkit_, *transport_, blocker_, *will_);
  publisher_->start();
}

void SparkplugService::stop() {
  if (publisher_) publisher_->finish();  // the NDEATH of this connection's try
  publisher_.reset();
  if (transport_) ending_.push_back(std::move(transport_));
  std::erase_if(ending_, [](const auto& t) { return t->ended(std::chrono::milliseconds(0)); });
}

void SparkplugService::awaitGoodbyes(std::chrono::steady_clock::time_point until) {
  for (const auto& t : ending_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    t->ended(std::max(left, std::chrono::milliseconds(0)));
  }
  ending_.clear();  // one still stuck on the network ends alone
}

std::optional<SparkplugCounters> SparkplugService::counters() const {
  if (!publisher_) return std::nullopt;
  return SparkplugCounters{.connected = publisher_->connected(),
                           .messages = publisher_->messagesPublished(),
                           .ignored = publisher_->ignoredMessages(),
                           .refused = publisher_->refusedCommands()};
}

}  // namespace trv4
