// The whole program as it runs: the Qt toolkit and serial port, the application and its main
// window. main() and the end-to-end tests that drive the windows build it the same way.
#pragma once

#include <memory>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_toolkit.h"
#include "app/remote_command_gate.h"
#include "link/qt_serial_port.h"
#include "plant/plant_services.h"

namespace trv4 {

class Program {
 public:
  Program();
  ~Program();

  // Start-up: reads the configuration, opens the port and shows the windows. False when the
  // program must end before its window shows (the messages have been shown).
  bool start();

  Application& app() { return app_; }
  QtToolkit& toolkit() { return toolkit_; }
  // Null until start() succeeded.
  MainWindow* window() { return window_.get(); }
  // Publishing, weighings, HTTP and Modbus TCP; null until start() succeeded.
  PlantServices* plant() { return plant_.get(); }

 private:
  QtToolkit toolkit_;
  QtSerialPort port_;
  Application app_;
  std::unique_ptr<RemoteCommandGate> commands_;  // what HTTP's commands go through
  std::unique_ptr<PlantServices> plant_;         // before the window that shows its parts
  std::unique_ptr<MainWindow> window_;
};

}  // namespace trv4
