#include "plant/across_threads.h"

#include <algorithm>

namespace trv4 {

DeskAcrossThreads::DeskAcrossThreads(CaptureDesk& desk, ServicesThread& thread)
    : desk_(desk), thread_(thread) {
  deskListener_ = desk_.addListener([this](const Capture& c) {
    thread_.post([this, c] {
      const auto listeners = listeners_;  // a listener may remove itself
      for (const auto& l : listeners) l.second(c);
    });
  });
}

DeskAcrossThreads::~DeskAcrossThreads() {
  desk_.removeListener(deskListener_);
}

void DeskAcrossThreads::capture(const CaptureRequest& request,
                                std::function<void(const CaptureOutcome&)> done) {
  thread_.postBack([this, request, done = std::move(done)] {
    desk_.capture(request, [this, done](const CaptureOutcome& outcome) {
      thread_.post([done, outcome] { done(outcome); });
    });
  });
}

// The desk's reads may be asked from any thread: they are answered there.
void DeskAcrossThreads::readAfter(uint64_t sequence, std::size_t limit,
                                  std::function<void(std::vector<Capture>)> done) const {
  desk_.readAfter(sequence, limit, std::move(done));
}

std::vector<Capture> DeskAcrossThreads::newest(std::size_t limit) const {
  return desk_.newest(limit);
}

std::size_t DeskAcrossThreads::waitingForDelivery() const {
  return desk_.waitingForDelivery();
}

int DeskAcrossThreads::addListener(std::function<void(const Capture&)> listener) {
  listeners_.emplace_back(++nextListener_, std::move(listener));
  return nextListener_;
}

void DeskAcrossThreads::removeListener(int id) {
  std::erase_if(listeners_, [id](const auto& l) { return l.first == id; });
}

void CommandsAcrossThreads::queue(int scale, char command, Done done) {
  thread_.postBack([this, scale, command, done = std::move(done)] {
    gate_.queue(scale, command, [this, done](const std::optional<std::string>& refused) {
      thread_.post([done, refused] { done(refused); });
    });
  });
}

}  // namespace trv4
