// TRV4NET.INI as a plant engineer may write it. What is taken is within the ranges the services
// open with, and the file the Publishing dialog writes from it reads back the same, untold.
#include <string>

#include "fuzz/require.h"
#include "net/net_settings.h"

namespace trv4 {
namespace {

bool same(const NetSettings& a, const NetSettings& b) {
  const MqttSettings &m = a.mqtt, &n = b.mqtt;
  return m.enabled == n.enabled && m.host == n.host && m.port == n.port && m.prefix == n.prefix &&
         m.clientId == n.clientId && m.username == n.username && m.password == n.password &&
         m.caFile == n.caFile && m.qos == n.qos && m.heartbeatS == n.heartbeatS &&
         m.commands == n.commands && a.modbus.enabled == b.modbus.enabled &&
         a.modbus.bind == b.modbus.bind && a.modbus.port == b.modbus.port &&
         a.http.enabled == b.http.enabled && a.http.bind == b.http.bind &&
         a.http.port == b.http.port && a.http.token == b.http.token &&
         a.http.commands == b.http.commands;
}

bool portNumber(int port) {
  return port >= 1 && port <= 65535;
}

}  // namespace
}  // namespace trv4

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trv4;
  const NetSettings s = parseNetSettings({reinterpret_cast<const char*>(data), size});
  fuzz::require(portNumber(s.mqtt.port) && portNumber(s.modbus.port) && portNumber(s.http.port),
                "net settings", "a port number no socket can have");
  fuzz::require(s.mqtt.qos >= 0 && s.mqtt.qos <= 2, "net settings", "an MQTT QoS beyond 2");
  fuzz::require(s.http.token.empty() ||
                    (s.http.token.size() >= kHttpTokenMin && s.http.token.size() <= kHttpTokenMax),
                "net settings", "a token of a length the server refuses");

  const NetSettings again = parseNetSettings(formatNetSettings(s));
  fuzz::require(again.problems.empty(), "net settings", "the written file has problems");
  fuzz::require(same(again, s), "net settings", "the written file reads back otherwise");
  return 0;
}
