// TRV4NET.INI: what a file turns on, and what it cannot use told once per key.
#include "net/net_settings.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace trv4::test {
namespace {

TEST(NetSettingsTest, ReadsBothServicesAndKeepsAServiceOffForAnyValueItCannotUse) {
  const NetSettings good = parseNetSettings(
      "[mqtt]\nenabled=true\nhost=broker.plant\nport=8883\nprefix=line7\n"
      "client_id=            ; empty: trv4-<host name>\npassword=se;cret\nqos=2\n"
      "heartbeat_s=30\ncommands=false\n[modbus]\r\nenabled=true\r\nbind=0.0.0.0\r\nport=502\r\n");
  EXPECT_TRUE(good.problems.empty()) << good.problems.front();
  EXPECT_TRUE(good.mqtt.enabled);
  EXPECT_EQ(good.mqtt.host, "broker.plant");
  EXPECT_EQ(good.mqtt.port, 8883);
  EXPECT_EQ(good.mqtt.clientId, "");
  EXPECT_EQ(good.mqtt.password, "se;cret");  // a ";" is a comment only after a blank
  EXPECT_EQ(good.mqtt.qos, 2);
  EXPECT_TRUE(good.modbus.enabled);
  EXPECT_EQ(good.modbus.port, 502);

  const std::pair<const char*, const char*> bad[] = {
      {"[mqtt]\nenabled=true\nport=70000\n", "\"port\" in [mqtt] must be a whole number"},
      {"[mqtt]\nenabled=true\nprefix=plant/#\n", "wildcards"},
      {"[mqtt]\nenabled=true\nqos=3\n", "\"qos\""},
      {"[mqtt]\nenabled=yes\n", "must be true or false"},
      {"[mqtt]\nenabled=true\ncolour=red\n", "no key \"colour\""},
      {"[mqtt]\nenabled=true\nhost\n", "has no \"=\""},
      {"[mqtt]\nenabled=true\npassword=x\nhost=\n", "\"host\" in [mqtt] may not be empty"},
  };
  for (const auto& [text, expected] : bad) {
    const NetSettings s = parseNetSettings(std::string(text) + "[modbus]\nenabled=true\n");
    ASSERT_EQ(s.problems.size(), 1u) << text;
    EXPECT_NE(s.problems[0].find(expected), std::string::npos) << s.problems[0];
    EXPECT_NE(s.problems[0].find("MQTT publishing stays off"), std::string::npos);
    EXPECT_FALSE(s.mqtt.enabled) << text;
    EXPECT_TRUE(s.modbus.enabled) << text;  // the other service is not touched
  }
  // The password is never repeated, even when its line is wrong.
  const NetSettings secret = parseNetSettings("[mqtt]\nport=topsecret\npasword=topsecret\n");
  for (const std::string& p : secret.problems) EXPECT_EQ(p.find("topsecret"), std::string::npos);

  EXPECT_TRUE(readNetSettings("/nonexistent/TRV4NET.INI").problems.empty());
  const NetSettings folder = readNetSettings(std::filesystem::temp_directory_path().string());
  ASSERT_EQ(folder.problems.size(), 1u);
  EXPECT_NE(folder.problems[0].find("is not a file"), std::string::npos);
  EXPECT_FALSE(folder.mqtt.enabled || folder.modbus.enabled);
}

}  // namespace
}  // namespace trv4::test
