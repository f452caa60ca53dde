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
                           AsyncJournal& journal)
    : taker_(monitor, toolkit, std::move(served)), journal_(journal) {
  poster_ = toolkit.createTimer([this] { runPosted(); });
}

WeighingDesk::~WeighingDesk() = default;

void WeighingDesk::capture(const CaptureRequest& request, Done done) {
  const int scale = request.scale;
  std::vector<Done>& askers = askers_[scale];
  askers.push_back(std::move(done));
  if (askers.size() > 1) return;  // joins the capture that waits
  taker_.take(request, [this, scale](const CaptureOutcome& outcome) {
    if (outcome.capture)
      commit(scale, *outcome.capture);
    else
      post([this, scale, outcome] { finish(scale, outcome); });
  });
}

void WeighingDesk::commit(int scale, const Capture& taken) {
  journal_.commit(taken, [this, scale, alive = std::weak_ptr<char>(alive_)](
                             const Capture& c, const std::optional<JournalFailure>& why) {
    if (alive.expired()) return;
    CaptureOutcome outcome;
    if (!why) {
      outcome.capture = c;
      outcome.message = captureSentence(c);
    } else {
      outcome.failure = CaptureFailure::kJournal;
      outcome.message = journalFailureText(*why);
      outcome.journalFailure = why;
    }
    finish(scale, std::move(outcome));
  });
}

void WeighingDesk::finish(int scale, CaptureOutcome outcome) {
  std::vector<Done> askers;
  if (const auto it = askers_.find(scale); it != askers_.end()) {
    askers = std::move(it->second);
    askers_.erase(it);
  }
  if (outcome.capture) {
    // Each listener is looked up again: one may remove another.
    std::vector<int> ids;
    for (const auto& l : listeners_) ids.push_back(l.first);
    for (const int id : ids) {
      const auto it = std::ranges::find(listeners_, id, &decltype(listeners_)::value_type::first);
      if (it != listeners_.end()) {
        const auto listener = it->second;
        listener(*outcome.capture);
      }
    }
  }
  for (const Done& done : askers)
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

std::size_t WeighingDesk::waiting() const {
  std::size_t n = 0;
  for (const auto& [scale, askers] : askers_) n += askers.size();
  return n;
}

void WeighingDesk::readAfter(uint64_t sequence, std::size_t limit,
                             std::function<void(std::vector<Capture>)> done) const {
  journal_.readAfter(sequence, limit, std::move(done));
}

std::vector<Capture> WeighingDesk::newest(std::size_t limit) const {
  return journal_.newest(limit);
}

std::size_t WeighingDesk::waitingForDelivery() const {
  return journal_.undeliveredCount();
}

void WeighingDesk::readUndelivered(uint64_t sequence, std::size_t limit,
                                   std::function<void(std::vector<Capture>)> done) const {
  journal_.readUndelivered(sequence, limit, std::move(done));
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
