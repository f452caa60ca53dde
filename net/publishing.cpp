#include "net/publishing.h"

#include <filesystem>

#include "base/file_names.h"
#include "net/modbus_server.h"
#include "net/mosquitto_transport.h"
#include "net/mqtt_publisher.h"

namespace trv4 {

Publishing::Publishing(MonitorModel& monitor, LinkState& state, const LinkStats& stats,
                       Toolkit& toolkit)
    : monitor_(monitor), state_(state), stats_(stats), toolkit_(toolkit) {}

Publishing::~Publishing() {
  stop();
}

void Publishing::start(const std::string& path) {
  settings_ = readNetSettings(path);
  for (const std::string& problem : settings_.problems) toolkit_.messageBox(problem);
  if (settings_.mqtt.enabled) {
    if (const std::string why = MosquittoTransport::problem(settings_.mqtt); !why.empty()) {
      toolkit_.messageBox(why);
    } else {
      transport_ = std::make_unique<MosquittoTransport>(
          settings_.mqtt, settings_.mqtt.prefix + "/status", "offline");
      mqtt_ =
          std::make_unique<MqttPublisher>(settings_.mqtt, monitor_, state_, toolkit_, *transport_);
      mqtt_->start();
    }
  }
  if (settings_.modbus.enabled) {
    modbus_ = std::make_unique<ModbusServer>(settings_.modbus, monitor_, state_, stats_, toolkit_);
    if (const std::string why = modbus_->start(); !why.empty()) {
      modbus_.reset();
      toolkit_.messageBox(why);
    }
  }
  if (onStarted) onStarted(settings_);  // HTTP hook
}

void Publishing::stop() {
  if (onStopping) onStopping();  // HTTP hook
  if (mqtt_) mqtt_->finish();
  mqtt_.reset();
  transport_.reset();
  modbus_.reset();
}

std::string netSettingsPathBeside(const std::string& configPath) {
  return fileNameText(filePath(configPath).parent_path() / kNetSettingsFileName);
}

}  // namespace trv4
