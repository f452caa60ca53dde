// What POST /api/v1/scales/{address}/commands hands a zero, tare or gross to. The program's
// command gate (shared with MQTT's command topics) implements it; until one is connected,
// commands by HTTP answer 503 "commands are off".
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace trv4 {

class RemoteCommands {
 public:
  virtual ~RemoteCommands() = default;
  // Queues command ('Z', 'T' or 'G') for scale (0..29; -1: every scale, address "@") as the
  // single-scale window's buttons queue it. done runs once, on the caller's thread, within the
  // call or later: nullopt when queued, else why not in plain words.
  using Done = std::function<void(const std::optional<std::string>& refused)>;
  virtual void queue(int scale, char command, Done done) = 0;
};

}  // namespace trv4
