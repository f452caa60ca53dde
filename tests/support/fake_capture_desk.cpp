#include "tests/support/fake_capture_desk.h"

#include <QTimer>

namespace trv4::test {

void FakeCaptureDesk::readAfter(uint64_t sequence, std::size_t limit,
                                std::function<void(std::vector<Capture>)> done) const {
  QTimer::singleShot(
      0, [rows = journal.after(sequence, limit), done = std::move(done)] { done(rows); });
}

void FakeCaptureDesk::capture(const CaptureRequest& request,
                              std::function<void(const CaptureOutcome&)> done) {
  asked.push_back(request);
  open.push_back({request, std::move(done)});
}

Capture FakeCaptureDesk::commit(int scale, const std::string& by, const std::string& text,
                                int32_t digits, int decimals, bool net) {
  Capture c;
  c.scale = scale;
  c.text = text;
  c.digits = digits;
  c.decimals = decimals;
  c.unit = "kg";
  c.net = net;
  c.utcMs = 1796565839123;  // 2026-12-06T14:03:59.123Z
  c.requestedBy = by;
  journal.commit(c);
  for (const auto& [id, listener] : listeners_) listener(c);
  return c;
}

Capture FakeCaptureDesk::commitNext(const std::string& text, int32_t digits, int decimals,
                                    bool net) {
  Asked a = std::move(open.front());
  open.pop_front();
  CaptureOutcome outcome;
  outcome.capture = commit(a.request.scale, a.request.requestedBy, text, digits, decimals, net);
  a.done(outcome);
  return *outcome.capture;
}

void FakeCaptureDesk::failNext(CaptureFailure failure, const std::string& message) {
  Asked a = std::move(open.front());
  open.pop_front();
  CaptureOutcome outcome;
  outcome.failure = failure;
  outcome.message = message;
  a.done(outcome);
}

Capture FakeCaptureDesk::commitOther(int scale, const std::string& text, int32_t digits,
                                     int decimals) {
  return commit(scale, "operator", text, digits, decimals, false);
}

}  // namespace trv4::test
