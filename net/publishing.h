// The weights published to the plant by MQTT as TRV4NET.INI says, and the hooks that start and
// stop the other plant services (HTTP, Modbus TCP) with it, so that the Publishing dialog's OK
// restarts them all with the settings just written (plant/plant_services wires them).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "display/monitor_model.h"
#include "link/link_state.h"
#include "net/mqtt_publisher.h"
#include "net/net_settings.h"

namespace trv4 {

class MosquittoTransport;

class Publishing {
 public:
  // Commands from the plant are queued only where blocker lets them.
  Publishing(MonitorModel& monitor, LinkState& state, Toolkit& toolkit, CommandBlocker blocker);
  // Stops, then waits for the goodbyes as awaitGoodbyes does.
  ~Publishing();

  // Reads the settings file at path and starts the services it enables. What the file cannot
  // give or a service cannot start with is told once through the toolkit's message box; the
  // rest runs on. After a stop, the new connection to the broker is made once the old one has
  // said goodbye, without the caller waiting.
  void start(const std::string& path);
  // A clean end: the services stop, the broker is told the program is offline. Returns at once;
  // the goodbye leaves on the connection's own thread.
  void stop();
  // Waits, at most kMqttGoodbyeLimit, for the goodbyes of the connections stopped to leave: at
  // the program's end, once its windows are gone, so that "offline" reaches the broker.
  void awaitGoodbyes();

  const NetSettings& settings() const { return settings_; }
  // Null while the settings leave MQTT off or it could not start.
  MqttPublisher* mqtt() { return mqtt_.get(); }

  // Captures share the MQTT connection (capture/capture_delivery): told once it has started,
  // with its transport and settings, and before it stops.
  std::function<void(MqttTransport& transport, const MqttSettings& settings)> onMqttStarted;
  std::function<void()> onMqttStopping;
  // Told the settings at the end of each start, and before each stop, so HTTP and Modbus TCP
  // start and stop with publishing.
  std::function<void(const NetSettings&)> onStarted;
  std::function<void()> onStopping;

 private:
  MonitorModel& monitor_;
  LinkState& state_;
  Toolkit& toolkit_;
  CommandBlocker blocker_;
  NetSettings settings_;
  // Connections stopped whose thread may still be saying goodbye.
  std::vector<std::unique_ptr<MosquittoTransport>> ending_;
  std::unique_ptr<MosquittoTransport> transport_;
  std::unique_ptr<MqttPublisher> mqtt_;  // after the transport it uses
};

// TRV4NET.INI in the folder of the configuration file at configPath.
std::string netSettingsPathBeside(const std::string& configPath);

}  // namespace trv4
