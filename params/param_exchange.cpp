#include "params/param_exchange.h"

#include <algorithm>

namespace trv4 {

ParamExchange::ParamExchange(LinkState& state, const DisplaySettings& settings, Toolkit& toolkit)
    : state_(state), settings_(settings), toolkit_(toolkit) {
  timer2_ = toolkit_.createTimer([this] { timer2_->setEnabled(false); });
  timer2_->setInterval(kBroadcastSendWait);
  timer2_->setEnabled(true);
}

int ParamExchange::slot() const {
  const int i = scaleIndex(target());
  return i < 0 ? kBroadcastSlot : i;
}

bool ParamExchange::broadcast() const {
  return slot() == kBroadcastSlot;
}

std::string ParamExchange::reply() const {
  const int s = slot();
  return s == kBroadcastSlot ? std::string() : state_.CommandReply[s];
}

void ParamExchange::waitForReply(int s) {
  // Every pass yields: the scan cycle sends the command and the reception handler files the
  // answer meanwhile. Yield sleeps until the next event, so the wait never spins.
  while (timer2_->enabled()) {
    toolkit_.yield();
    if (!state_.CommandReply[s].empty()) break;
  }
}

void ParamExchange::waitBroadcast(const std::string& a) {
  state_.CommandQueue[kBroadcastSlot] = a;
  // The wait lasts the interval last set; one run covers the send and the answer.
  timer2_->setEnabled(false);
  timer2_->setEnabled(true);
  // A broadcast is never answered, so the line stays held for the command reply time-out after
  // each one: a short interval can run out before this one has left, and the next command would
  // then replace it unsent. The wait for the send gets the interval as loaded at least.
  bool extended = false;
  while (!state_.CommandQueue[kBroadcastSlot].empty()) {
    if (!timer2_->enabled()) {
      if (extended) break;
      extended = true;
      timer2_->restart(kBroadcastSendWait);
    }
    toolkit_.yield();
  }
  const int count = std::clamp(state_.ScaleCount, 0, kMaxScales);
  for (int i = 0; i < count; ++i) state_.StatusReply[i].clear();
  while (timer2_->enabled()) {
    toolkit_.yield();
    if (std::any_of(state_.StatusReply.begin(), state_.StatusReply.begin() + count,
                    [](const std::string& r) { return !r.empty(); })) {
      break;
    }
  }
}

void ParamExchange::WaitPin(const std::string& a) {
  const int s = slot();
  if (s == kBroadcastSlot) return waitBroadcast(a);
  state_.CommandReply[s].clear();
  state_.CommandQueue[s] = a;
  timer2_->restart(300);
  waitForReply(s);
}

void ParamExchange::WaitData(const std::string& a) {
  const int s = slot();
  if (s == kBroadcastSlot) return waitBroadcast(a);
  state_.CommandReply[s].clear();
  for (int attempt = 1; attempt <= 2; ++attempt) {
    // Queued again on the second attempt, whether or not the first one was sent.
    state_.CommandQueue[s] = a;
    timer2_->restart(100);
    waitForReply(s);
    if (!state_.CommandReply[s].empty()) break;
  }
}

bool ParamExchange::WaitDataL(const std::string& a, std::size_t b, const std::string& c) {
  const int s = slot();
  for (int attempt = 1; attempt <= 3; ++attempt) {
    WaitData(a);
    if (s == kBroadcastSlot) return true;
    const std::string& answer = state_.CommandReply[s];
    if (answer.size() > b && answer.compare(2, c.size(), c) == 0) return true;
  }
  return false;
}

}  // namespace trv4
