// The whole program as it runs: the Qt toolkit and serial port, the application and its main
// window. main() and the end-to-end tests that drive the windows build it the same way.
#pragma once

#include <memory>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_toolkit.h"
#include "link/qt_serial_port.h"
#include "net/modbus_server.h"

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
  // The Modbus server, null while TRV4NET.INI leaves it off.
  ModbusServer* modbus() { return modbus_.get(); }

 private:
  QtToolkit toolkit_;
  QtSerialPort port_;
  Application app_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<ModbusServer> modbus_;

  // TRV4NET.INI beside TRV4.INI: what it cannot use is told once; the services it enables start.
  void startPublishing();
};

}  // namespace trv4
