// TRV4NET.INI: where the weights are published, beside TRV4.INI (which it never touches). A
// missing file means every service off. A file or value that cannot be used is told once, in
// plain words naming its key, and the service it belongs to stays off; the program runs on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trv4 {

inline constexpr const char* kNetSettingsFileName = "TRV4NET.INI";

struct MqttSettings {
  bool enabled = false;
  std::string host = "127.0.0.1";
  int port = 1883;
  std::string prefix = "trv4";
  std::string clientId;  // empty: trv4-<host name>
  std::string username;
  std::string password;
  std::string caFile;  // set: TLS to the broker, verified against this CA
  int qos = 1;
  int heartbeatS = 10;
  bool commands = false;
};

struct ModbusSettings {
  bool enabled = false;
  std::string bind = "127.0.0.1";
  int port = 1502;
};

struct NetSettings {
  MqttSettings mqtt;
  ModbusSettings modbus;
  // What could not be used, one plain sentence each; never a password.
  std::vector<std::string> problems;
};

// The settings a file's text gives.
NetSettings parseNetSettings(std::string_view text);
// The file at path; defaults (everything off) when there is none.
NetSettings readNetSettings(const std::string& path);

// The file's text for the settings: every key, in the file's order, with its comment.
std::string formatNetSettings(const NetSettings& settings);
// Writes the settings to path whole: a new file beside it, synced, then renamed over it, so a
// failed write leaves the old file as it was. With a password the file is readable by its owner
// only from the moment it exists. False and *error (naming the file, never the password) on
// failure.
bool writeNetSettings(const std::string& path, const NetSettings& settings, std::string* error);

}  // namespace trv4
