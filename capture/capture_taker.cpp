#include "capture/capture_taker.h"

#include <algorithm>
#include <cstdio>

#include "base/blank_trim.h"
#include "base/codepage.h"
#include "display/shown_weight.h"
#include "display/weight_format.h"
#include "link/link_state.h"

namespace trv4 {

namespace {

std::string scaleWord(int scale) {
  if (scale < 0 || scale >= kMaxScales) return "Scale " + std::to_string(scale);
  return std::string("Scale ") + scaleAddress(scale);
}

// "5 s", "2.5 s".
std::string seconds(int ms) {
  char buf[32];
  if (ms % 1000 == 0)
    std::snprintf(buf, sizeof buf, "%d s", ms / 1000);
  else
    std::snprintf(buf, sizeof buf, "%.3g s", ms / 1000.0);
  return buf;
}

CaptureOutcome failed(CaptureFailure why, std::string message) {
  CaptureOutcome o;
  o.failure = why;
  o.message = std::move(message);
  return o;
}

}  // namespace

CaptureTaker::CaptureTaker(MonitorModel& monitor, Toolkit& toolkit, std::function<bool(int)> served)
    : monitor_(monitor), toolkit_(toolkit), served_(std::move(served)) {
  deadline_ = toolkit_.createTimer([this] { onDeadline(); });
  listener_ = monitor_.addShownListener([this](int i) { onShown(i); });
}

CaptureTaker::~CaptureTaker() {
  monitor_.removeShownListener(listener_);
}

void CaptureTaker::take(const CaptureRequest& request,
                        std::function<void(const CaptureOutcome&)> done) {
  Pending p;
  p.request = request;
  p.request.stableAnswers = std::clamp(request.stableAnswers, 1, kCaptureMaxAnswers);
  p.request.timeoutMs = std::clamp(request.timeoutMs, 0, kCaptureMaxTimeoutMs);
  p.done = std::move(done);
  const bool known = request.scale >= 0 && request.scale < kMaxScales;
  p.refused = !known || !served_ || !served_(request.scale);
  p.dueAt = toolkit_.steadyMs() + (p.refused ? 0 : p.request.timeoutMs);
  pending_.push_back(std::move(p));
  armDeadline();
}

void CaptureTaker::onShown(int scale) {
  if (pending_.empty()) return;
  const PanelView& view = monitor_.panel(scale).view;
  const std::string text = trimBlanks(view.text, " ");
  const std::optional<ShownWeight> weight = readShownWeight(text);
  Seen seen = Seen::kSettled;
  if (text.empty())
    seen = Seen::kBlank;
  else if (text == kOffRangeText)
    seen = Seen::kOffRange;
  else if (!weight)
    seen = Seen::kText;
  else if (view.motionVisible && view.motionText == "M")
    seen = Seen::kMoving;

  bool ended = false;
  for (auto it = pending_.begin(); it != pending_.end();) {
    Pending& p = *it;
    if (p.refused || p.request.scale != scale) {
      ++it;
      continue;
    }
    p.last = seen;
    p.settled = seen == Seen::kSettled ? p.settled + 1 : 0;
    if (p.settled < p.request.stableAnswers) {
      ++it;
      continue;
    }
    Capture c;
    c.scale = scale;
    c.text = codePageToUtf8(text);
    c.digits = weight->digits;
    c.decimals = weight->decimals;
    c.unit = weight->unit;
    c.net = view.netVisible;
    c.utcMs = toolkit_.wallMs();
    c.requestedBy = p.request.requestedBy;
    CaptureOutcome o;
    o.capture = std::move(c);
    auto done = std::move(p.done);
    it = pending_.erase(it);
    ended = true;
    done(o);
  }
  if (ended) armDeadline();
}

CaptureOutcome CaptureTaker::failure(const Pending& p) const {
  const int scale = p.request.scale;
  if (scale < 0 || scale >= kMaxScales)
    return failed(CaptureFailure::kNotPolled, "There is no scale " + std::to_string(scale) + ".");
  const std::string who = scaleWord(scale);
  if (p.refused || !served_ || !served_(scale))
    return failed(CaptureFailure::kNotPolled, who + " is not polled.");
  switch (p.last) {
    case Seen::kNothing:
    case Seen::kBlank:
      return failed(CaptureFailure::kNoAnswer, who + " did not answer.");
    case Seen::kOffRange:
      return failed(CaptureFailure::kOffRange, who + " shows Off Range.");
    case Seen::kText:
      return failed(CaptureFailure::kNotAWeight, who + " shows a text, not a weight.");
    case Seen::kMoving:
    case Seen::kSettled:
      break;
  }
  return failed(CaptureFailure::kMoving,
                who + " did not settle within " + seconds(p.request.timeoutMs) + ".");
}

void CaptureTaker::onDeadline() {
  deadline_->setEnabled(false);
  const int64_t now = toolkit_.steadyMs();
  // Those due now end in the order they were asked for.
  std::vector<std::pair<std::function<void(const CaptureOutcome&)>, CaptureOutcome>> ended;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->dueAt > now) {
      ++it;
      continue;
    }
    ended.emplace_back(std::move(it->done), failure(*it));
    it = pending_.erase(it);
  }
  armDeadline();
  for (auto& [done, outcome] : ended) done(outcome);
}

void CaptureTaker::armDeadline() {
  if (pending_.empty()) {
    deadline_->setEnabled(false);
    return;
  }
  int64_t first = pending_.front().dueAt;
  for (const Pending& p : pending_) first = std::min(first, p.dueAt);
  const int64_t wait = std::max<int64_t>(1, first - toolkit_.steadyMs());
  deadline_->restart(static_cast<int>(wait));
}

}  // namespace trv4
