#include "net/mqtt_failure.h"

namespace trv4 {

namespace {

std::string brokerAt(const MqttFailure& f) {
  return "the MQTT broker at " + f.host + " port " + std::to_string(f.port);
}

std::string caFileIn(const MqttFailure& f) {
  return "The CA file " + f.caFile + " in TRV4NET.INI ";
}

}  // namespace

std::string mqttFailureText(const MqttFailure& f) {
  switch (f.code) {
    case MqttFailureCode::kCaFileNotAFile:
      return caFileIn(f) + "is not a file the program can read: MQTT publishing is off.";
    case MqttFailureCode::kCaFileUnreadable:
      return caFileIn(f) + "can not be read: MQTT publishing is off.";
    case MqttFailureCode::kCaFileNoCertificate:
      return caFileIn(f) + "holds no certificate: MQTT publishing is off.";
    case MqttFailureCode::kCaFileUnusable:
      return caFileIn(f) + "can not be used: MQTT publishing is off.";
    case MqttFailureCode::kClientNotSetUp:
      return "The MQTT client can not be set up: publishing is off.";
    case MqttFailureCode::kHostNotFound:
      return "The MQTT broker's host " + f.host + " can not be found. Publishing tries again.";
    case MqttFailureCode::kTlsFailed:
      return "The TLS connection to " + brokerAt(f) +
             " failed; check ca_file in TRV4NET.INI. Publishing tries again.";
    case MqttFailureCode::kRefused:
      return "The MQTT broker at " + f.host + " port " + std::to_string(f.port) +
             " refused the connection: " + f.detail +
             ". Check username and password in TRV4NET.INI.";
    case MqttFailureCode::kUnreachable:
      return "The program can not reach " + brokerAt(f) + " (" + f.detail +
             "). Publishing tries again.";
    case MqttFailureCode::kConnectionLost:
      return "The connection to " + brokerAt(f) + " was lost (" + f.detail +
             "). Publishing resumes when it is back.";
  }
  return {};
}

}  // namespace trv4
