#include "app/program.h"

#include <filesystem>

#include "net/net_settings.h"

namespace trv4 {

Program::Program() : toolkit_(QStringLiteral("TRV4")), app_(port_, toolkit_) {}

Program::~Program() = default;

bool Program::start() {
  if (!app_.MDIForm_Load()) return false;
  window_ = std::make_unique<MainWindow>(app_, toolkit_);
  window_->show();
  startPublishing();
  return true;
}

void Program::startPublishing() {
  const std::string path =
      (std::filesystem::path(app_.config().path()).parent_path() / kNetSettingsFileName).string();
  const NetSettings settings = readNetSettings(path);
  for (const std::string& problem : settings.problems) toolkit_.messageBox(problem);
  if (settings.mqtt.enabled)
    toolkit_.messageBox("MQTT publishing is not part of this version: [mqtt] in " +
                        std::string(kNetSettingsFileName) +
                        " is checked, but nothing is published to the broker.");
  if (!settings.modbus.enabled) return;
  modbus_ = std::make_unique<ModbusServer>(settings.modbus, app_.monitor(), app_.state(),
                                           app_.linkStats(), toolkit_);
  if (const std::string why = modbus_->start(); !why.empty()) {
    modbus_.reset();
    toolkit_.messageBox(why);
  }
}

}  // namespace trv4
