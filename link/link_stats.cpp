#include "link/link_stats.h"

#include <algorithm>

#include "link/frame.h"

namespace trv4 {

namespace {
constexpr char kNak = '\x15';
}

bool blockCheckHolds(std::string_view frame) {
  const std::size_t n = frame.size();
  if (n < 5 || frame.front() != STX || frame.back() != ETX) return false;
  return FrameBcc(frame.substr(0, n - 3)) == frame.substr(n - 3, 2);
}

double ScaleCounters::meanReplyMs() const {
  return replies == 0 ? -1.0 : static_cast<double>(totalReplyMs) / replies;
}

double ScaleCounters::answeredShare() const {
  return sentCount() == 0 ? -1.0 : static_cast<double>(replies) / sentCount();
}

void ScaleCounters::add(const ScaleCounters& o) {
  requests += o.requests;
  commands += o.commands;
  broadcasts += o.broadcasts;
  replies += o.replies;
  timeouts += o.timeouts;
  badCheck += o.badCheck;
  cut += o.cut;
  wrongAddress += o.wrongAddress;
  noise += o.noise;
  naks += o.naks;
  totalReplyMs += o.totalReplyMs;
  maxReplyMs = std::max(maxReplyMs, o.maxReplyMs);
  if (o.lastReplyAt > lastReplyAt) {
    lastReplyAt = o.lastReplyAt;
    lastReplyMs = o.lastReplyMs;
  }
}

ScaleCounters* LinkStats::counters(int scale) {
  return scale >= 0 && scale < kMaxScales ? &scales_[scale] : nullptr;
}

void LinkStats::sent(int scale, bool status, std::string_view) {
  sentAt_ = toolkit_.steadyMs();
  ScaleCounters* c = counters(scale);
  if (!c) {
    ++broadcasts_;
  } else if (status) {
    ++c->requests;
  } else {
    ++c->commands;
  }
}

void LinkStats::received(int scale, RxKind kind, std::string_view bytes) {
  ScaleCounters* c = counters(scale);
  if (!c) return;
  switch (kind) {
    case RxKind::Echo:
      return;
    case RxKind::Noise:
      ++c->noise;
      return;
    case RxKind::Dropped:
      ++c->cut;
      return;
    case RxKind::WrongAddress:
      ++c->wrongAddress;
      return;
    case RxKind::StatusReply:
    case RxKind::Reply:
      break;
  }
  const int64_t now = toolkit_.steadyMs();
  const int64_t took = std::max<int64_t>(now - sentAt_, 0);
  ++c->replies;
  c->lastReplyMs = took;
  c->totalReplyMs += took;
  c->maxReplyMs = std::max(c->maxReplyMs, took);
  c->lastReplyAt = now;
  if (!blockCheckHolds(bytes)) ++c->badCheck;
  if (bytes.size() > 2 && bytes[2] == kNak) ++c->naks;
}

void LinkStats::timedOut(int scale, std::string_view leftover) {
  ScaleCounters* c = counters(scale);
  if (!c) return;  // a broadcast is never answered
  ++c->timeouts;
  // Text left without its ETX: the start of a frame, or noise that streamed past the limit.
  if (!leftover.empty()) ++(leftover.front() == STX ? c->cut : c->noise);
}

ScaleCounters LinkStats::totals() const {
  ScaleCounters t;
  for (const ScaleCounters& c : scales_) t.add(c);
  t.broadcasts = broadcasts_;
  return t;
}

void LinkStats::reset() {
  scales_ = {};
  broadcasts_ = 0;
}

}  // namespace trv4
