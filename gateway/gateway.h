// The headless gateway: the program's polling, weight formatting, weight log and publishing,
// without any window. The configuration comes from the working folder; messages go to the
// console toolkit.
#pragma once

#include <memory>

#include "app/application.h"
#include "app/remote_command_gate.h"
#include "gateway/console_toolkit.h"
#include "gateway/gateway_claims.h"
#include "gateway/gateway_options.h"
#include "link/qt_serial_port.h"
#include "plant/plant_services.h"

namespace trv4 {

class Gateway {
 public:
  explicit Gateway(const GatewayOptions& options, std::FILE* messages = stderr);
  ~Gateway();

  // Reads TRV4.INI and opens the port, starts the scan cycle, the log and publishing. A port
  // that cannot be opened yet is tried again every second. False when the gateway must end
  // (no configuration and no port, or a log file that cannot be written): the reason has been
  // told. Also false when another gateway on this PC already uses the folder, the MQTT client id
  // or a listening port (gateway_claims.h); one on the same serial device is waited for.
  bool start();
  // A clean end: the broker is told the gateway is offline, the log is closed.
  void stop();

  Application& app() { return app_; }
  // Publishing, weighings, HTTP and Modbus TCP; null until start() succeeded.
  PlantServices* plant() { return plant_.get(); }

 private:
  void tryOpenPort();

  GatewayOptions options_;
  ConsoleToolkit toolkit_;
  std::vector<ProcessClaim> claims_;  // held until the gateway ends
  DeviceClaim deviceClaim_;
  QtSerialPort port_;
  Application app_;
  std::unique_ptr<RemoteCommandGate> commands_;  // what HTTP's commands go through
  std::unique_ptr<PlantServices> plant_;
  std::unique_ptr<Timer> openTimer_;  // tries the port until it opens
  bool openFailureTold_ = false;
};

}  // namespace trv4
