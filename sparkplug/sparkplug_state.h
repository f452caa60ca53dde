// The primary host's STATE: {"online":true,"timestamp":1700000000000}, read with Qt's JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace trv4 {

struct SparkplugHostState {
  bool online = false;
  int64_t timestampMs = 0;
};

// None unless payload is a JSON object with a Boolean "online" and a whole, non-negative number
// "timestamp".
std::optional<SparkplugHostState> parseSparkplugHostState(const std::string& payload);

}  // namespace trv4
