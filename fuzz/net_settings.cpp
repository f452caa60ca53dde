// TRV4NET.INI as a plant engineer may write it. What is taken is within the ranges the services
// open with, and the file the Publishing dialog writes from it reads back the same, untold.
#include <algorithm>
#include <string>

#include "fuzz/require.h"
#include "net/net_settings.h"
#include "net/net_settings_keys.h"

namespace trv4 {
namespace {

// Every key of the file's table holds the same value in a and b.
bool same(const NetSettings& a, const NetSettings& b) {
  const auto keys = netSettingKeys();
  return std::all_of(keys.begin(), keys.end(),
                     [&](const SettingKey& k) { return sameSetting(k, a, b); });
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
