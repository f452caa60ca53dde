// The capture desk and the command gate of the windows' thread as the plant services see them on
// theirs: a capture or a command is handed to the windows' thread, which runs it between two of
// the link's events, and its outcome comes back to the services thread. Nothing waits.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "capture/capture_desk.h"
#include "http/remote_commands.h"
#include "link/link_state.h"
#include "plant/services_thread.h"

namespace trv4 {

// Made and ended on the windows' thread; used on the services thread.
class DeskAcrossThreads : public CaptureDesk {
 public:
  DeskAcrossThreads(CaptureDesk& desk, ServicesThread& thread);
  ~DeskAcrossThreads() override;

  void capture(const CaptureRequest& request,
               std::function<void(const CaptureOutcome&)> done) override;
  void readAfter(uint64_t sequence, std::size_t limit,
                 std::function<void(std::vector<Capture>)> done) const override;
  std::vector<Capture> newest(std::size_t limit) const override;
  std::size_t waitingForDelivery() const override;
  int addListener(std::function<void(const Capture&)> listener) override;
  void removeListener(int id) override;

 private:
  // A capture handed to the windows' thread for one scale, with the captures asked for that
  // scale since, which join it here rather than each crossing: the desk would join them there.
  struct Flight {
    std::atomic<bool> waiting{true};  // cleared on the windows' thread once it has an outcome
    std::vector<std::function<void(const CaptureOutcome&)>> joined;  // services thread only
  };

  CaptureDesk& desk_;
  ServicesThread& thread_;
  int deskListener_ = -1;
  // Touched on the services thread only: each scale's capture still waiting, if any.
  std::array<std::shared_ptr<Flight>, kMaxScales> flights_;
  // Touched on the services thread only.
  std::vector<std::pair<int, std::function<void(const Capture&)>>> listeners_;
  int nextListener_ = 0;
};

class CommandsAcrossThreads : public RemoteCommands {
 public:
  CommandsAcrossThreads(RemoteCommands& gate, ServicesThread& thread)
      : gate_(gate), thread_(thread) {}
  void queue(int scale, char command, Done done) override;

 private:
  RemoteCommands& gate_;
  ServicesThread& thread_;
};

}  // namespace trv4
