// Which device a port number names on this system.
#pragma once

#include <string>

namespace trv4 {

// Port n: the first that exists of ./COMn (a link, e.g. to a USB adapter or a simulator's
// pseudo-terminal), /dev/ttyUSB(n-1), /dev/ttyS(n-1). With none existing, "" (the port cannot be
// opened). Port numbers below 1 name no device.
std::string portDevice(int port);

}  // namespace trv4
