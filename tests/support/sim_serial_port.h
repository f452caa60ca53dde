// A serial port on a simulated line, in virtual time. What the program writes is recorded and
// handed to a peer (simulated scales, or a test's own script); what the peer delivers arrives
// after a chosen delay and raises the receive event like a real port.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "tests/support/virtual_toolkit.h"
#include "tools/scalesim/reply_tally.h"

namespace trv4::test {

class SimSerialPort : public SerialPort {
 public:
  explicit SimSerialPort(VirtualToolkit& toolkit);

  PortError setCommPort(int port) override;
  int commPort() const override { return port_; }
  PortError setPortOpen(bool open) override;
  bool portOpen() const override { return open_; }
  PortError reopen() override { return open_ ? std::nullopt : setPortOpen(true); }
  PortError setSettings(const std::string& settings) override;
  std::string settings() const override { return settings_; }
  PortError setHandshaking(int mode) override;
  int handshaking() const override { return handshaking_; }
  void output(const std::string& bytes) override;
  std::string input() override;
  int inBufferCount() const override { return static_cast<int>(inBuffer_.size()); }
  void setRThreshold(int threshold) override { rThreshold_ = threshold; }
  int rThreshold() const override { return rThreshold_; }
  void setOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }
  int commEvent() const override { return commEvent_; }
  std::string deviceText(int port) const override;
  void setOnDeviceLost(std::function<void()> handler) override { onLost_ = std::move(handler); }

  // Bytes from the line arrive delayMs from now; the receive event fires then when RThreshold
  // is 1 and the port is open. Bytes arriving at a closed port are lost.
  void deliver(const std::string& bytes, int64_t delayMs = 0);
  // The device vanishes (USB adapter pulled): the port closes and says so, later opens fail
  // until it is plugged in again.
  void unplug();
  void plugIn() { existingPorts.insert(port_); }
  // The device goes away right after the next read hands over its bytes (a line hung up after
  // its last reply).
  bool unplugAfterInput = false;

  // Port numbers whose device exists, and those among them that are busy (open fails).
  std::set<int> existingPorts{1};
  std::set<int> busyPorts;

  struct Write {
    int64_t at;
    std::string bytes;
  };
  std::vector<Write> writes;  // everything the program wrote, with its virtual time
  std::function<void(const std::string&)> onWrite;  // the peer sees each write

  // With recordLine set, every write and every arrival in the order they happened, for
  // scalesim::tallyReplies().
  bool recordLine = false;
  std::vector<scalesim::LineEvent> line;

  int closes = 0;                         // closes of an open port
  int openTries = 0;                      // calls that asked to open the port
  std::set<std::string> refusedSettings;  // settings texts the device refuses

 private:
  VirtualToolkit& toolkit_;
  int port_ = 1;
  bool open_ = false;
  std::string settings_ = "9600,E,7,1";
  int handshaking_ = 0;
  int rThreshold_ = 0;
  int commEvent_ = 0;
  std::string inBuffer_;
  std::function<void()> onComm_;
  std::function<void()> onLost_;
};

}  // namespace trv4::test
