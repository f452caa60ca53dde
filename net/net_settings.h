// TRV4NET.INI: where the weights are published, beside TRV4.INI (which it never touches). A
// missing file means every service off. A file or value that cannot be used is told once, in
// plain words naming its key, and the service it belongs to stays off; the program runs on. Its
// keys are described once, in net_settings_keys.h.
#pragma once

#include <cstddef>
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

// Sparkplug B on the broker of [mqtt] (its host, port, user, password and TLS), on a connection
// of its own: its will is the edge node's death certificate. The line is the edge node and every
// polled scale a device.
struct SparkplugSettings {
  bool enabled = false;
  std::string groupId = "trv4";
  std::string edgeNodeId;     // empty: the host name
  std::string primaryHostId;  // set: births wait until this host says it is online
  bool commands = false;      // Zero, Tare and Gross written by DCMD
};

struct ModbusSettings {
  bool enabled = false;
  std::string bind = "127.0.0.1";
  int port = 1502;
};

// The HTTP server for the plant's IT (http/): off by default. Writes (captures, commands) need
// the token; without one they are off.
inline constexpr int kHttpDefaultPort = 8480;
inline constexpr std::size_t kHttpTokenMin = 16;
inline constexpr std::size_t kHttpTokenMax = 256;
// hosts=: the names a request may give beside the server's addresses and "localhost".
inline constexpr std::size_t kHttpHostsMax = 16;
inline constexpr std::size_t kHttpHostNameMax = 253;

struct HttpSettings {
  bool enabled = false;
  std::string bind = "127.0.0.1";
  int port = kHttpDefaultPort;
  std::string token;               // empty: no writes; else 16 to 256 visible ASCII characters
  bool commands = false;           // zero, tare and gross by HTTP, with the token
  std::vector<std::string> hosts;  // more names of this PC (its DNS name), as written
};

// The capture journal: keep_days=N removes delivered captures older than N days (1 to 36500);
// 0, the default, keeps every capture.
inline constexpr int kCaptureKeepDaysMax = 36500;

struct CaptureSettings {
  int keepDays = 0;
};

struct NetSettings {
  MqttSettings mqtt;
  SparkplugSettings sparkplug;
  ModbusSettings modbus;
  HttpSettings http;
  CaptureSettings captures;
  // What could not be used, one plain sentence each; never a password.
  std::vector<std::string> problems;
};

struct SettingKey;

// The settings a file's text gives.
NetSettings parseNetSettings(std::string_view text);
// The file at path; defaults (everything off) when there is none.
NetSettings readNetSettings(const std::string& path);

// The file's text for the settings: every key, in the file's order, with its comment.
std::string formatNetSettings(const NetSettings& settings);
// Writes the settings to path whole: a new file beside it, synced, then renamed over it, so a
// failed write leaves the old file as it was. With a password or a token the file is readable by
// its owner only from the moment it exists. False and *error (naming the file, never a password
// or token) on failure.
bool writeNetSettings(const std::string& path, const NetSettings& settings, std::string* error);

// What the file's reader makes of the value settings hold for key once it is written.
struct WrittenSetting {
  bool refused = false;  // it refuses the value; why says what the value must be
  bool changed = false;  // it reads back another value (blanks at its ends, a comment, lines)
  std::string why;
};
WrittenSetting checkWritten(const SettingKey& key, const NetSettings& settings);

}  // namespace trv4
