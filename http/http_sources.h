// What the HTTP server reads and reaches: the program's monitor, link and port, and the
// capture desk, the command gate and the MQTT state when the program has them.
#pragma once

#include <functional>
#include <optional>

#include "base/toolkit.h"
#include "capture/capture_desk.h"
#include "display/monitor_model.h"
#include "http/remote_commands.h"
#include "link/link_state.h"
#include "link/link_stats.h"
#include "link/scale_link.h"
#include "link/serial_port.h"

namespace trv4 {

struct HttpSources {
  HttpSources(MonitorModel& monitor, LinkState& state, const LinkStats& stats, SerialPort& port,
              Toolkit& toolkit)
      : monitor(monitor), state(state), stats(stats), port(port), toolkit(toolkit) {}

  MonitorModel& monitor;
  LinkState& state;
  const LinkStats& stats;
  SerialPort& port;
  Toolkit& toolkit;
  ScaleLink* link = nullptr;           // its frames tell /healthz that polling runs
  CaptureDesk* captures = nullptr;     // null: captures answer 503
  RemoteCommands* commands = nullptr;  // null: commands answer 503 "commands are off"
  // Whether the MQTT broker is connected; nullopt while MQTT is off.
  std::function<std::optional<bool>()> mqttConnected;
};

// A scale answers while its display hold runs and its panel shows something, as the Modbus
// registers read it.
inline bool answering(const HttpSources& s, int scale) {
  return s.state.DisplayHold[scale] > 0 && !s.monitor.panel(scale).view.text.empty();
}

}  // namespace trv4
