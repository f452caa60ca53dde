// The configuration file TRV4.INI: serial port, line settings, link timings and which scales are
// polled. Eight quoted lines, CRLF, values at fixed positions.
#pragma once

#include <functional>
#include <string>

#include "base/toolkit.h"
#include "link/link_state.h"
#include "link/serial_port.h"

namespace trv4 {

inline constexpr const char* kConfigFileName = "TRV4.INI";

// What the reader keeps of one line. Every value sits within the first 31 characters, except the
// settings text of line 2, which is the whole line between its first and last character; a line 2
// longer than this cannot hold a settings text the port accepts and is skipped.
inline constexpr std::size_t kConfigLineCap = 256;

class Configuration {
 public:
  // path: the file, normally TRV4.INI in the current directory.
  Configuration(LinkState& state, SerialPort& port, Toolkit& toolkit,
                std::string path = kConfigFileName);

  // Reads the file (or probes for a port when it is missing) and opens the port. False when the
  // program must end: no file and no port ("No Serial Port Available" has been shown).
  bool LoadSettings();

  // Writes the whole file from the port's current number and settings, the timings and
  // ScanList. Written to a temporary file first and renamed over the old one, so a failure
  // leaves the old file intact ("CAN NOT WRITE INI FILE" is shown).
  void SaveSettings();

  // The whole file text SaveSettings writes, for the current state.
  std::string settingsText() const;

  const std::string& path() const { return path_; }

  // Moves the freshly written file over the old one; true on success. Replaceable so that a
  // failing rename can be reproduced.
  std::function<bool(const std::string& from, const std::string& to)> replaceFile;

 private:
  bool probeForPort();

  LinkState& state_;
  SerialPort& port_;
  Toolkit& toolkit_;
  std::string path_;
};

}  // namespace trv4
