// The plant services as the program and the gateway run them, built and wired in this one place:
// on the windows' thread beside the link, publishing (MQTT, Sparkplug B) and weighings, and the
// board publisher that keeps the plant board current; on the services thread, HTTP with its live
// feed and Modbus TCP, which read the board and hand captures and commands to the windows' thread.
// Sparkplug, HTTP and Modbus start and stop with publishing, so the Publishing dialog's OK
// restarts them.
#pragma once

#include <memory>
#include <string>

#include "base/toolkit.h"
#include "capture/weighings.h"
#include "display/monitor_model.h"
#include "http/remote_commands.h"
#include "link/link_state.h"
#include "link/link_stats.h"
#include "link/scale_link.h"
#include "link/serial_port.h"
#include "net/board_publisher.h"
#include "net/mqtt_publisher.h"
#include "net/plant_board.h"
#include "net/publishing.h"
#include "plant/across_threads.h"
#include "plant/services_thread.h"
#include "plant/sparkplug_service.h"

namespace trv4 {

class HttpServer;
class ModbusServer;

// What the plant services are given of the program: the link's side, its toolkit, the gate of
// remote commands and where TRV4.INI is.
struct PlantParts {
  MonitorModel& monitor;
  LinkState& state;
  const LinkStats& stats;
  SerialPort& port;
  ScaleLink& link;
  Toolkit& toolkit;
  CommandBlocker blocker;    // MQTT's and Sparkplug's commands are queued only where it lets them
  RemoteCommands& commands;  // HTTP's commands go through it
  std::string configPath;    // TRV4.INI: the journal and TRV4NET.INI are beside it
};

class PlantServices {
 public:
  // Once the scale link runs. Nothing starts before start().
  explicit PlantServices(PlantParts parts);
  // Stops, ends the services thread, then waits for the goodbyes as awaitGoodbyes does.
  ~PlantServices();
  PlantServices(const PlantServices&) = delete;
  PlantServices& operator=(const PlantServices&) = delete;

  // Reads TRV4NET.INI and starts what it enables.
  void start();
  // Stops every service; MQTT says "offline" and Sparkplug sends NDEATH on their own threads.
  // Returns at once.
  void stop();
  // Waits, at most kMqttGoodbyeLimit, for MQTT's "offline" and Sparkplug's NDEATH to leave.
  void awaitGoodbyes();

  Publishing& publishing() { return publishing_; }
  SparkplugService& sparkplug() { return sparkplug_; }
  Weighings& weighings() { return weighings_; }
  const std::string& netSettingsPath() const { return netSettingsPath_; }

 private:
  void startServices(const NetSettings& settings);
  void stopServices();

  PlantParts parts_;
  std::string netSettingsPath_;
  PlantBoard board_;
  Weighings weighings_;
  Publishing publishing_;  // after the weighings: it stops their delivery as it goes
  SparkplugService sparkplug_;
  BoardPublisher publisher_;
  // Ended first (in the destructor), so that the services on it go before what they reach.
  std::unique_ptr<ServicesThread> thread_;
  std::unique_ptr<DeskAcrossThreads> desk_;
  std::unique_ptr<CommandsAcrossThreads> commands_;
  // Made, used and ended on the services thread only.
  std::unique_ptr<HttpServer> http_;
  std::unique_ptr<ModbusServer> modbus_;
};

}  // namespace trv4
