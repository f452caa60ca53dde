#include "net/mqtt_failure.h"

#include <gtest/gtest.h>

#include <utility>

namespace trv4 {
namespace {

TEST(MqttFailureText, WordsEachCode) {
  using C = MqttFailureCode;
  const std::string ca = "/etc/trv4/ca.pem";
  const std::pair<MqttFailure, std::string> cases[] = {
      {{.code = C::kCaFileNotAFile, .caFile = ca},
       "The CA file /etc/trv4/ca.pem in TRV4NET.INI is not a file the program can read: MQTT "
       "publishing is off."},
      {{.code = C::kCaFileUnreadable, .caFile = ca},
       "The CA file /etc/trv4/ca.pem in TRV4NET.INI can not be read: MQTT publishing is off."},
      {{.code = C::kCaFileNoCertificate, .caFile = ca},
       "The CA file /etc/trv4/ca.pem in TRV4NET.INI holds no certificate: MQTT publishing is "
       "off."},
      {{.code = C::kCaFileUnusable, .caFile = ca},
       "The CA file /etc/trv4/ca.pem in TRV4NET.INI can not be used: MQTT publishing is off."},
      {{.code = C::kClientNotSetUp}, "The MQTT client can not be set up: publishing is off."},
      {{.code = C::kHostNotFound, .host = "broker.plant", .port = 1883},
       "The MQTT broker's host broker.plant can not be found. Publishing tries again."},
      {{.code = C::kTlsFailed, .host = "broker.plant", .port = 8883},
       "The TLS connection to the MQTT broker at broker.plant port 8883 failed; check ca_file in "
       "TRV4NET.INI. Publishing tries again."},
      {{.code = C::kRefused, .host = "10.0.0.5", .port = 1883, .detail = "not authorised"},
       "The MQTT broker at 10.0.0.5 port 1883 refused the connection: not authorised. Check "
       "username and password in TRV4NET.INI."},
      {{.code = C::kUnreachable, .host = "10.0.0.5", .port = 1883, .detail = "Connection refused"},
       "The program can not reach the MQTT broker at 10.0.0.5 port 1883 (Connection refused). "
       "Publishing tries again."},
      {{.code = C::kConnectionLost, .host = "10.0.0.5", .port = 1883, .detail = "Broken pipe"},
       "The connection to the MQTT broker at 10.0.0.5 port 1883 was lost (Broken pipe). "
       "Publishing resumes when it is back."},
  };
  for (const auto& [failure, text] : cases) EXPECT_EQ(mqttFailureText(failure), text);
}

}  // namespace
}  // namespace trv4
