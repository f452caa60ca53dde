// Opens the port again after its device went away (a USB adapter pulled and plugged back, a
// line hung up): about once a second it tries the name the port was opened under (its ./COMn
// link, followed afresh, or its device path) with the same settings, and polling resumes by
// itself once the port is open, since the scan cycle waits on a closed port. The operator hears
// of the loss once, and once more if the device comes back refusing settings it had taken (one
// that refused them already when the port was opened is taken back as it was); failed tries are
// silent.
#pragma once

#include <memory>

#include "base/toolkit.h"
#include "link/serial_port.h"

namespace trv4 {

inline constexpr int kReconnectInterval = 1000;  // ms between tries

class PortReconnect {
 public:
  // Takes the port's device-lost event.
  PortReconnect(SerialPort& port, Toolkit& toolkit);
  ~PortReconnect();
  PortReconnect(const PortReconnect&) = delete;
  PortReconnect& operator=(const PortReconnect&) = delete;

  // Tries are running (the device is gone and the port was not opened since).
  bool waiting() const { return timer_->enabled(); }

 private:
  void lost();
  void retry();
  void tell(const std::string& text);

  SerialPort& port_;
  Toolkit& toolkit_;
  std::unique_ptr<Timer> timer_;
  bool refusalTold_ = false;  // the settings refusal was told during this loss
  bool telling_ = false;      // a message shows: no second one on top of it
};

}  // namespace trv4
