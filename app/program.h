// The whole program as it runs: the Qt toolkit and serial port, the application and its main
// window. main() and the end-to-end tests that drive the windows build it the same way.
#pragma once

#include <memory>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_toolkit.h"
#include "app/remote_command_gate.h"
#include "capture/weighings.h"
#include "http/http_service.h"
#include "link/qt_serial_port.h"
#include "net/publishing.h"

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
  // What TRV4NET.INI publishes.
  Publishing& publishing() { return publishing_; }
  // The capture desk, its journal and delivery; null until start() succeeded.
  Weighings* weighings() { return weighings_.get(); }
  // The HTTP server TRV4NET.INI turns on; null until start() succeeded.
  HttpService* http() { return http_.get(); }

 private:
  QtToolkit toolkit_;
  QtSerialPort port_;
  Application app_;
  std::unique_ptr<Weighings> weighings_;  // before the window that shows it
  std::unique_ptr<MainWindow> window_;
  Publishing publishing_;  // it stops the delivery of captures as it goes
  std::unique_ptr<RemoteCommandGate> commands_;  // what HTTP's commands go through
  std::unique_ptr<HttpService> http_;            // after publishing_, which it hooks into
};

}  // namespace trv4
