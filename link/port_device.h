// Which device a port number names on this system, and why a device cannot serve as a port.
#pragma once

#include <optional>
#include <string>

#include "link/port_failure.h"

namespace trv4 {

// Where devices are looked for: `local` holds the ./COMn links (the current folder), `dev` the
// system's devices. Tests point both at a scratch folder.
struct DeviceFolders {
  std::string local = ".";
  std::string dev = "/dev";
};

// Port n: the first that exists of ./COMn (a link, e.g. to a USB adapter or a simulator's
// pseudo-terminal), /dev/ttyUSB(n-1), /dev/ttyS(n-1), /dev/ttyACM(n-1). With none existing, ""
// (the port cannot be opened). On Windows, \\.\COMn. Port numbers below 1 name no device.
std::string portDevice(int port, const DeviceFolders& folders = {});

// The device port n names, as the operator reads it: "/dev/ttyUSB0", "./COM1 -> /dev/pts/3"
// (what the link points to), or "no device on this machine".
std::string portDeviceText(int port, const DeviceFolders& folders = {});

// Why `device`, named by port, cannot be opened as a serial port without trying: a link that
// points nowhere, a folder, or anything that is not a character device (a plain file, a named
// pipe, whose open could block). nullopt when it may be opened, and always on Windows.
std::optional<PortFailure> deviceProblem(int port, const std::string& device);

}  // namespace trv4
