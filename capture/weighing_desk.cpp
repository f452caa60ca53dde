#include "capture/weighing_desk.h"

#include <algorithm>

namespace trv4 {

namespace {

std::string captureSentence(const Capture& c) {
  return "Capture " + std::to_string(c.sequence) + ": scale " +
         std::string(1, scaleAddress(c.scale)) + ", " + c.text + (c.net ? " net" : " gross") + ".";
}

}  // namespace

WeighingDesk::WeighingDesk(MonitorModel& monitor, Toolkit& toolkit, std::function<bool(int)> served,
                           CaptureJournal& journal)
    : taker_(monitor, toolkit, std::move(served)), journal_(journal) {
  poster_ = toolkit.createTimer([this] { runPosted(); });
}

WeighingDesk::~WeighingDesk() = default;

void WeighingDesk::capture(const CaptureRequest& request,
                           std::function<void(const CaptureOutcome&)> done) {
  auto shared = std::make_shared<std::function<void(const CaptureOutcome&)>>(std::move(done));
  taker_.take(request, [this, shared](const CaptureOutcome& outcome) {
    post([this, shared, outcome] { commit(outcome, *shared); });
  });
}

void WeighingDesk::commit(CaptureOutcome outcome,
                          const std::function<void(const CaptureOutcome&)>& done) {
  if (outcome.capture) {
    Capture& c = *outcome.capture;
    const std::string why = journal_.commit(c);
    if (!why.empty()) {
      outcome.capture.reset();
      outcome.failure = CaptureFailure::kJournal;
      outcome.message = why;
    } else {
      outcome.message = captureSentence(c);
      // Each listener is looked up again: one may remove another.
      std::vector<int> ids;
      for (const auto& l : listeners_) ids.push_back(l.first);
      for (const int id : ids) {
        const auto it = std::ranges::find(listeners_, id, &decltype(listeners_)::value_type::first);
        if (it != listeners_.end()) {
          const auto listener = it->second;
          listener(c);
        }
      }
    }
  }
  if (done) done(outcome);
}

void WeighingDesk::post(std::function<void()> fn) {
  posted_.push_back(std::move(fn));
  if (!poster_->enabled()) poster_->restart(1);
}

void WeighingDesk::runPosted() {
  poster_->setEnabled(false);
  while (!posted_.empty()) {
    auto fn = std::move(posted_.front());
    posted_.pop_front();
    fn();
  }
}

std::vector<Capture> WeighingDesk::after(uint64_t sequence, std::size_t limit) const {
  return journal_.after(sequence, limit);
}

std::vector<Capture> WeighingDesk::newest(std::size_t limit) const {
  return journal_.newest(limit);
}

std::size_t WeighingDesk::waitingForDelivery() const {
  return journal_.undeliveredCount();
}

std::vector<Capture> WeighingDesk::undelivered(uint64_t sequence, std::size_t limit) const {
  return journal_.undelivered(sequence, limit);
}

void WeighingDesk::markDelivered(uint64_t sequence) {
  journal_.markDelivered(sequence);
}

int WeighingDesk::addListener(std::function<void(const Capture&)> listener) {
  listeners_.emplace_back(++nextListener_, std::move(listener));
  return nextListener_;
}

void WeighingDesk::removeListener(int id) {
  std::erase_if(listeners_, [id](const auto& l) { return l.first == id; });
}

}  // namespace trv4
