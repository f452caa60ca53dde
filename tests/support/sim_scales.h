// Simulated scales joined to a simulated serial port, in virtual time: every write of the program
// reaches the scale model at the virtual time it is made, and the model's replies (and echo, and
// injected faults) are delivered to the port at the times the model gives them, byte by byte at
// the character time when a bit rate is set.
#pragma once

#include <cstdint>
#include <memory>

#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"
#include "tools/scalesim/scale_model.h"

namespace trv4::test {

class SimScales {
 public:
  // Takes over port.onWrite. Declare after the toolkit and the port, so both outlive it.
  SimScales(VirtualToolkit& toolkit, SimSerialPort& port, scalesim::NetworkOptions options = {});
  ~SimScales();
  SimScales(const SimScales&) = delete;
  SimScales& operator=(const SimScales&) = delete;

  scalesim::ScaleNetwork& network() { return net_; }
  // The scale at an address (nullptr when it is not on the line), to set loads, locks, texts.
  scalesim::ScaleState* scale(char address) { return net_.scale(address); }
  // Request frames the scales received, with their virtual times in microseconds.
  const std::deque<scalesim::ReceivedFrame>& received() const { return net_.received(); }

  // Virtual time in the model's unit.
  int64_t nowUs() const { return toolkit_.now() * 1000; }

 private:
  void arm();
  void pump();

  VirtualToolkit& toolkit_;
  SimSerialPort& port_;
  scalesim::ScaleNetwork net_;
  int64_t armedAtMs_ = -1;  // virtual ms of the pending delivery event, -1 when none
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace trv4::test
