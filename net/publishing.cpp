#include "net/publishing.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "base/file_names.h"
#include "net/mosquitto_transport.h"
#include "net/mqtt_publisher.h"

namespace trv4 {

Publishing::Publishing(MonitorModel& monitor, LinkState& state, Toolkit& toolkit,
                       CommandBlocker blocker)
    : monitor_(monitor), state_(state), toolkit_(toolkit), blocker_(std::move(blocker)) {}

Publishing::~Publishing() {
  stop();
  awaitGoodbyes();
}

void Publishing::start(const std::string& path) {
  settings_ = readNetSettings(path);
  for (const std::string& problem : settings_.problems) toolkit_.messageBox(problem);
  if (settings_.mqtt.enabled) {
    if (const std::optional<MqttFailure> why = MosquittoTransport::problem(settings_.mqtt)) {
      toolkit_.messageBox(mqttFailureText(*why));
    } else {
      transport_ = std::make_unique<MosquittoTransport>(
          settings_.mqtt, settings_.mqtt.prefix + "/status", "offline");
      std::vector<std::shared_future<void>> earlier;
      for (const auto& t : ending_) earlier.push_back(t->end());
      transport_->follow(std::move(earlier));
      mqtt_ = std::make_unique<MqttPublisher>(settings_.mqtt, monitor_, state_, toolkit_,
                                              *transport_, blocker_);
      mqtt_->start();
      if (onMqttStarted) onMqttStarted(*transport_, settings_.mqtt);
    }
  }
  if (onStarted) onStarted(settings_);  // HTTP and Modbus
}

void Publishing::stop() {
  if (mqtt_ && onMqttStopping) onMqttStopping();
  if (onStopping) onStopping();  // HTTP and Modbus
  if (mqtt_) mqtt_->finish();
  mqtt_.reset();
  if (transport_) ending_.push_back(std::move(transport_));
  std::erase_if(ending_, [](const auto& t) { return t->ended(std::chrono::milliseconds(0)); });
}

void Publishing::awaitGoodbyes() {
  const auto until = std::chrono::steady_clock::now() + kMqttGoodbyeLimit;
  for (const auto& t : ending_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    t->ended(std::max(left, std::chrono::milliseconds(0)));
  }
  ending_.clear();  // one still stuck on the network ends alone
}

std::string netSettingsPathBeside(const std::string& configPath) {
  return fileNameText(filePath(configPath).parent_path() / kNetSettingsFileName);
}

}  // namespace trv4
