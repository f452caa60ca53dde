// Why a serial-port operation failed, as a value: the code callers decide on, the detail its
// message needs, and portErrorText(), the one place the messages are worded.
#pragma once

#include <string>

namespace trv4 {

enum class PortFailureCode {
  kOpenWhileChoosing,      // another port number was chosen while the port is open
  kAlreadyOpen,            // asked to open a port that is open
  kNoDevice,               // the port number names no device on this machine
  kDeviceMissing,          // the device path does not exist
  kLinkDangling,           // the ./COMn link points to nothing that exists
  kDeviceIsFolder,         // the device path is a folder
  kNotSerialDevice,        // the device path is no character device (a file, a named pipe)
  kDeviceUnreadable,       // the device path cannot be looked at: detail is the system's text
  kPermissionDenied,       // this user may not open the device; group owns it ("" unknown)
  kOpenRefused,            // the device refused to open: detail is the system's text
  kSettingsMalformed,      // the line settings text is malformed: detail says how
  kSettingsRefused,        // the device refuses the line settings: detail is the system's text
  kHandshakingOutOfRange,  // a handshaking mode outside 0 to 3
  kHandshakingRefused,     // the device refuses the handshaking: detail is the system's text
  kHeldByAnotherGateway,   // another gateway on this PC has the device (device: its real path)
};

struct PortFailure {
  PortFailureCode code;
  int port = 0;
  std::string device{};    // the device path tried
  std::string group{};     // kPermissionDenied: the group that owns the device
  std::string settings{};  // the line settings text refused
  int handshaking = 0;     // the handshaking mode refused
  std::string detail{};  // the system's text ("" when it says nothing), or why a text is malformed
};

// The message the operator reads for a failure.
std::string portErrorText(const PortFailure& failure);

}  // namespace trv4
