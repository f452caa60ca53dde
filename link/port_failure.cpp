#include "link/port_failure.h"

#include "base/platform.h"

namespace trv4 {

namespace {

std::string portName(const PortFailure& f) {
  return "Port " + std::to_string(f.port);
}

std::string portAndDevice(const PortFailure& f) {
  return portName(f) + " (" + f.device + "): ";
}

// The system's text, or a plain one when it gives none.
std::string systemText(const PortFailure& f) {
  return f.detail.empty() ? "the device does not take them" : f.detail;
}

std::string permissionText(const PortFailure& f) {
  if (kOnWindows) {
    return portAndDevice(f) +
           "it is in use by another program, or access to it is denied. Close the program that "
           "has it open, then try again.";
  }
  const std::string owner =
      f.group.empty() ? "the group that owns it" : "the group \"" + f.group + "\"";
  return portAndDevice(f) + "this user may not open it. Add the user to " + owner +
         " (for example: sudo usermod -aG " + (f.group.empty() ? "dialout" : f.group) +
         " $USER), then log out and in again.";
}

}  // namespace

std::string portErrorText(const PortFailure& f) {
  switch (f.code) {
    case PortFailureCode::kOpenWhileChoosing:
      return "The port is open: close it before choosing another";
    case PortFailureCode::kAlreadyOpen:
      return portName(f) + " is already open";
    case PortFailureCode::kNoDevice:
      return portName(f) + " does not exist";
    case PortFailureCode::kDeviceMissing:
      return portAndDevice(f) + "it does not exist";
    case PortFailureCode::kLinkDangling:
      return portAndDevice(f) + "the link points to nothing that exists";
    case PortFailureCode::kDeviceIsFolder:
      return portAndDevice(f) + "it is a folder, not a serial device";
    case PortFailureCode::kNotSerialDevice:
      return portAndDevice(f) + "it is not a serial device";
    case PortFailureCode::kDeviceUnreadable:
    case PortFailureCode::kOpenRefused:
      return portAndDevice(f) + systemText(f);
    case PortFailureCode::kPermissionDenied:
      return permissionText(f);
    case PortFailureCode::kSettingsMalformed:
      return "Settings \"" + f.settings + "\": " + f.detail;
    case PortFailureCode::kSettingsRefused:
      return "Settings \"" + f.settings + "\": " + systemText(f);
    case PortFailureCode::kHandshakingOutOfRange:
      return "Handshaking " + std::to_string(f.handshaking) + " is not 0 to 3";
    case PortFailureCode::kHandshakingRefused:
      return "Handshaking: " + systemText(f);
    case PortFailureCode::kHeldByAnotherGateway:
      return portName(f) + " (" + f.device + ") is in use by another gateway";
  }
  return {};
}

}  // namespace trv4
