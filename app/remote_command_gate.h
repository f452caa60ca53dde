// Commands from the plant over HTTP, through the same gate as MQTT's: refused while the scale or
// the line is busy or the scale is not served, queued otherwise, never kept for later.
#pragma once

#include <optional>
#include <string>

#include "app/application.h"
#include "http/remote_commands.h"
#include "link/command_queue.h"

namespace trv4 {

class RemoteCommandGate : public RemoteCommands {
 public:
  explicit RemoteCommandGate(Application& app) : app_(app) {}

  void queue(int scale, char command, Done done) override {
    const std::string address = scale < 0 ? "@" : std::string(1, scaleAddress(scale));
    const std::string why = app_.remoteCommandRefusal(address);
    if (!why.empty()) return done(why);
    QueueCommand(app_.state(), address, std::string(1, command));
    done(std::nullopt);
  }

 private:
  Application& app_;
};

}  // namespace trv4
