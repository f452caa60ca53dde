#include "plant/plant_services.h"

#include <chrono>

#include "http/http_server.h"
#include "net/modbus_server.h"
#include "net/mosquitto_transport.h"

namespace trv4 {

PlantServices::PlantServices(PlantParts parts)
    : parts_(std::move(parts)),
      netSettingsPath_(netSettingsPathBeside(parts_.configPath)),
      weighings_(
          parts_.monitor, parts_.toolkit, [this](int i) { return parts_.link.serves(i); },
          captureJournalPathBeside(parts_.configPath),
          JournalOptions{.keepDays = readNetSettings(netSettingsPath_).captures.keepDays}),
      publishing_(parts_.monitor, parts_.state, parts_.toolkit, parts_.blocker),
      sparkplug_(parts_.monitor, parts_.state, parts_.stats, parts_.toolkit, parts_.blocker),
      publisher_(board_, parts_.monitor, parts_.state, parts_.stats, parts_.port, &parts_.link,
                 parts_.toolkit),
      thread_(std::make_unique<ServicesThread>(parts_.toolkit)),
      desk_(std::make_unique<DeskAcrossThreads>(weighings_.desk(), *thread_)),
      commands_(std::make_unique<CommandsAcrossThreads>(parts_.commands, *thread_)) {
  weighings_.deliverThrough(publishing_);
  publisher_.mqttConnected = [this]() -> std::optional<bool> {
    if (MqttPublisher* mqtt = publishing_.mqtt()) return mqtt->connected();
    return std::nullopt;
  };
  publisher_.sparkplugCounters = [this] { return sparkplug_.counters(); };
  publishing_.onStarted = [this](const NetSettings& settings) { startServices(settings); };
  publishing_.onStopping = [this] { stopServices(); };
}

PlantServices::~PlantServices() {
  stop();
  thread_.reset();  // runs the services' ends posted by stop()
  commands_.reset();
  desk_.reset();
  publishing_.onStarted = nullptr;
  publishing_.onStopping = nullptr;
  awaitGoodbyes();
}

void PlantServices::start() {
  publishing_.start(netSettingsPath_);
  publisher_.publishAll();
}

void PlantServices::stop() {
  publishing_.stop();
}

void PlantServices::awaitGoodbyes() {
  const auto until = std::chrono::steady_clock::now() + kMqttGoodbyeLimit;
  publishing_.awaitGoodbyes();  // both leave at once: their limits run together
  sparkplug_.awaitGoodbyes(until);
}

void PlantServices::startServices(const NetSettings& settings) {
  sparkplug_.start(settings);
  // The thread itself, not thread_: at the end thread_ is already null while its destructor runs
  // what was posted.
  ServicesThread* thread = thread_.get();
  thread->post([this, thread, settings] {
    Toolkit& toolkit = thread->toolkit();
    HttpSources sources(board_, toolkit);
    sources.captures = desk_.get();
    sources.commands = commands_.get();
    http_ = startHttpServer(settings.http, sources);
    if (settings.modbus.enabled) {
      modbus_ = std::make_unique<ModbusServer>(settings.modbus, board_, toolkit);
      if (const std::string why = modbus_->start(); !why.empty()) {
        modbus_.reset();
        toolkit.messageBox(why);
      }
    }
  });
}

void PlantServices::stopServices() {
  sparkplug_.stop();
  thread_->post([this] {
    http_.reset();
    modbus_.reset();
  });
}

}  // namespace trv4
