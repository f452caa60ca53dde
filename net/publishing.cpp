#include "net/publishing.h"

#include <filesystem>

#include "net/modbus_server.h"

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
  if (settings_.mqtt.enabled)
    toolkit_.messageBox("MQTT publishing is not part of this version: [mqtt] in " +
                        std::string(kNetSettingsFileName) +
                        " is checked, but nothing is published to the broker.");
  if (settings_.modbus.enabled) {
    modbus_ = std::make_unique<ModbusServer>(settings_.modbus, monitor_, state_, stats_, toolkit_);
    if (const std::string why = modbus_->start(); !why.empty()) {
      modbus_.reset();
      toolkit_.messageBox(why);
    }
  }
}

void Publishing::stop() {
  modbus_.reset();
}

std::string netSettingsPathBeside(const std::string& configPath) {
  return (std::filesystem::path(configPath).parent_path() / kNetSettingsFileName).string();
}

}  // namespace trv4
