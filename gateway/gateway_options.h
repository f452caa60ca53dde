// The gateway's command line: the working folder, the weight log and its interval.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trv4 {

struct GatewayOptions {
  std::string dir = ".";    // holds TRV4.INI, TRV4NET.INI and the ./COMn links
  std::string logFile;      // "" when no weight log is written
  int32_t logInterval = 0;  // seconds between log lines, 0: continuous
  bool help = false;
  bool version = false;
};

struct ParsedGatewayOptions {
  GatewayOptions options;
  std::string error;  // "" when the command line is sound
};

// Reads the arguments after the program's name. "--name value" and "--name=value" both work.
ParsedGatewayOptions parseGatewayOptions(const std::vector<std::string>& args);

// The text --help prints.
std::string gatewayUsage();

}  // namespace trv4
