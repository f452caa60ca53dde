#include "tests/support/sim_serial_port.h"

#include "link/port_settings.h"

namespace trv4::test {

SimSerialPort::SimSerialPort(VirtualToolkit& toolkit) : toolkit_(toolkit) {}

PortError SimSerialPort::setCommPort(int port) {
  if (open_) return PortFailure{.code = PortFailureCode::kOpenWhileChoosing};
  port_ = port;
  return std::nullopt;
}

PortError SimSerialPort::setPortOpen(bool open) {
  if (!open) {
    if (open_) ++closes;
    open_ = false;
    inBuffer_.clear();
    return std::nullopt;
  }
  ++openTries;
  if (open_) return PortFailure{.code = PortFailureCode::kAlreadyOpen, .port = port_};
  if (!existingPorts.count(port_))
    return PortFailure{.code = PortFailureCode::kNoDevice, .port = port_};
  if (busyPorts.count(port_)) {
    return PortFailure{.code = PortFailureCode::kOpenRefused,
                       .port = port_,
                       .device = deviceText(port_),
                       .detail = "Device or resource busy"};
  }
  open_ = true;
  return std::nullopt;
}

PortError SimSerialPort::setSettings(const std::string& settings) {
  std::string error;
  if (!parseLineSettings(settings, &error)) {
    return PortFailure{
        .code = PortFailureCode::kSettingsMalformed, .settings = settings, .detail = error};
  }
  if (refusedSettings.count(settings))
    return PortFailure{.code = PortFailureCode::kSettingsRefused, .settings = settings};
  settings_ = settings;
  return std::nullopt;
}

PortError SimSerialPort::setHandshaking(int mode) {
  if (mode < 0 || mode > 3)
    return PortFailure{.code = PortFailureCode::kHandshakingOutOfRange, .handshaking = mode};
  handshaking_ = mode;
  return std::nullopt;
}

void SimSerialPort::output(const std::string& bytes) {
  if (!open_) return;
  writes.push_back({toolkit_.now(), bytes});
  if (recordLine) line.push_back({static_cast<double>(toolkit_.now()), true, bytes});
  if (onWrite) onWrite(bytes);
}

std::string SimSerialPort::input() {
  std::string out;
  out.swap(inBuffer_);
  if (unplugAfterInput && !out.empty()) {
    unplugAfterInput = false;
    unplug();
  }
  return out;
}

void SimSerialPort::deliver(const std::string& bytes, int64_t delayMs) {
  toolkit_.schedule(toolkit_.now() + delayMs, [this, bytes] {
    if (!open_) return;
    inBuffer_ += bytes;
    if (recordLine) line.push_back({static_cast<double>(toolkit_.now()), false, bytes});
    if (rThreshold_ >= 1 && onComm_) {
      commEvent_ = kCommEventReceive;
      onComm_();
    }
  });
}

void SimSerialPort::unplug() {
  existingPorts.erase(port_);
  if (!open_) return;
  ++closes;
  open_ = false;
  inBuffer_.clear();
  if (onLost_) onLost_();
}

std::string SimSerialPort::deviceText(int port) const {
  return existingPorts.count(port) ? "/dev/ttySIM" + std::to_string(port - 1)
                                   : "no device on this machine";
}

}  // namespace trv4::test
