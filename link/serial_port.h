// The serial-port component the link talks through. The Qt program opens a real device; the
// tests join a simulated port to simulated scales. Nothing here throws: operations that can fail
// return why (link/port_failure.h words it for the operator).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "link/port_failure.h"

namespace trv4 {

// nullopt on success, else why it failed.
using PortError = std::optional<PortFailure>;

// Event code reported by commEvent() when characters were received.
inline constexpr int kCommEventReceive = 2;

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Port number (1, 2, ...); refused while the port is open.
  virtual PortError setCommPort(int port) = 0;
  virtual int commPort() const = 0;

  virtual PortError setPortOpen(bool open) = 0;
  virtual bool portOpen() const = 0;
  // Opens the port again under the name it was last opened under: its ./COMn link, followed
  // afresh (so a link re-pointed to a new device is followed), or its device path. While that
  // name is missing it fails: the number never falls to another device meanwhile.
  virtual PortError reopen() = 0;

  // Line settings text such as "9600,N,8,1"; a malformed text is refused and the old one kept.
  virtual PortError setSettings(const std::string& settings) = 0;
  virtual std::string settings() const = 0;

  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both.
  virtual PortError setHandshaking(int mode) = 0;
  virtual int handshaking() const = 0;

  // Writes the bytes at once, in order (nothing happens while the port is closed).
  virtual void output(const std::string& bytes) = 0;
  // Every byte waiting, removed from the receive buffer.
  virtual std::string input() = 0;
  virtual int inBufferCount() const = 0;
  // Hands in, through the receive event, bytes the device holds whose event has not had its turn
  // yet; true when any came. A port whose events keep the line's order needs nothing here.
  virtual bool readWaiting() { return false; }

  // 1: onComm fires whenever bytes arrive; 0: no receive events.
  virtual void setRThreshold(int threshold) = 0;
  virtual int rThreshold() const = 0;

  // Handler for port events, run on the UI thread; commEvent() tells which event it is.
  virtual void setOnComm(std::function<void()> handler) = 0;
  virtual int commEvent() const = 0;

  // The device port n names on this machine, as the operator reads it.
  virtual std::string deviceText(int port) const = 0;
  // Runs on the UI thread when the open port's device went away (a pulled USB adapter, a line
  // hung up) and the port closed itself.
  virtual void setOnDeviceLost(std::function<void()> handler) = 0;
};

}  // namespace trv4
