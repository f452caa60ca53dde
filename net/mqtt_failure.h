// Why MQTT publishing failed or stopped, as a value: the code callers decide on, the detail its
// message needs (never a password), and mqttFailureText(), the one place it is worded.
#pragma once

#include <string>

namespace trv4 {

enum class MqttFailureCode {
  kCaFileNotAFile,       // the CA file is no file the program can read (missing, a folder, huge)
  kCaFileUnreadable,     // reading the CA file failed
  kCaFileNoCertificate,  // the CA file holds no certificate
  kCaFileUnusable,       // the MQTT library refused the CA file
  kClientNotSetUp,       // the MQTT library could not make a client
  kHostNotFound,         // the broker's host name can not be resolved
  kTlsFailed,            // the TLS handshake with the broker failed
  kRefused,              // the broker refused the connection: detail is its reason
  kUnreachable,          // a try to connect failed: detail is the library's or system's text
  kConnectionLost,       // an open connection ended: detail is the library's or system's text
};

struct MqttFailure {
  MqttFailureCode code;
  std::string host{};
  int port = 0;
  std::string caFile{};
  std::string detail{};

  bool operator==(const MqttFailure&) const = default;
};

// The message the operator reads; the publisher tells each one once.
std::string mqttFailureText(const MqttFailure& failure);

}  // namespace trv4
