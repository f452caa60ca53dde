// What the Sparkplug B publisher takes from the network: NCMD and DCMD payloads through the
// protobuf decoding, and the primary host's STATE through Qt's JSON. Each is either a command or
// a state within range, or refused with a reason of bounded length.
#include <string>

#include "fuzz/require.h"
#include "sparkplug/sparkplug_metrics.h"
#include "sparkplug/sparkplug_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trv4;
  const std::string payload(reinterpret_cast<const char*>(data), size);

  const SparkplugCommand node = decodeNodeCommand(payload);
  fuzz::require(node.commands.empty(), "sparkplug input", "a node command for a scale");
  fuzz::require(node.refused.empty() || !node.rebirth, "sparkplug input", "a refused rebirth");
  fuzz::require(node.refused.size() < 200, "sparkplug input", "a refusal without bound");

  for (const bool commands : {false, true}) {
    const SparkplugCommand device = decodeDeviceCommand(payload, commands);
    fuzz::require(device.refused.size() < 200, "sparkplug input", "a refusal without bound");
    fuzz::require(device.refused.empty() || device.commands.empty(), "sparkplug input",
                  "a refused command that still carries one");
    fuzz::require(commands || device.commands.empty(), "sparkplug input",
                  "a command taken with commands off");
    for (const std::string& c : device.commands)
      fuzz::require(c == "Z" || c == "T" || c == "G", "sparkplug input", "an unknown command");
  }

  if (const auto state = parseSparkplugHostState(payload))
    fuzz::require(state->timestampMs >= 0, "sparkplug input", "a state before 1970");
  return 0;
}
