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
  const bool known = request.scale >= 0 && request.scale < kMaxScales;
  // Joined only while the windows' side still waits: a capture asked after the scale's outcome
  // was reached waits for replies of its own, as it would at the desk.
  if (known && flights_[request.scale] != nullptr &&
      flights_[request.scale]->waiting.load(std::memory_order_acquire)) {
    flights_[request.scale]->joined.push_back(std::move(done));
    return;
  }
  auto flight = std::make_shared<Flight>();
  flight->joined.push_back(std::move(done));
  if (known) flights_[request.scale] = flight;
  thread_.postBack([this, request, flight] {
    desk_.capture(request, [this, scale = request.scale, flight](const CaptureOutcome& outcome) {
      flight->waiting.store(false, std::memory_order_release);
      thread_.post([this, scale, flight, outcome] {
        if (scale >= 0 && scale < kMaxScales && flights_[scale] == flight)
          flights_[scale] = nullptr;
        for (const auto& d : flight->joined) d(outcome);
      });
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
