#include "tests/support/virtual_toolkit.h"

#include <limits>
#include <stdexcept>

namespace trv4::test {

class VirtualTimer : public Timer {
 public:
  VirtualTimer(VirtualToolkit& tk, std::function<void()> onTick)
      : tk_(tk), onTick_(std::move(onTick)) {}
  ~VirtualTimer() override { unschedule(); }

  void setEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    enabled_ ? reschedule(tk_.now()) : unschedule();
  }
  bool enabled() const override { return enabled_; }
  void setInterval(int ms) override {
    interval_ = ms;
    if (enabled_) reschedule(tk_.now());
  }
  int interval() const override { return interval_; }

  // Runs one tick due now: the next tick is counted from this one unless the handler re-arms.
  void fire() {
    scheduled_ = false;
    reschedule(tk_.now());
    if (onTick_) onTick_();
  }

 private:
  void unschedule() {
    if (scheduled_) tk_.disarm(key_);
    scheduled_ = false;
  }
  void reschedule(int64_t from) {
    unschedule();
    if (!enabled_ || interval_ <= 0) return;
    key_ = tk_.arm(from + interval_, {nullptr, this});
    scheduled_ = true;
  }

  VirtualToolkit& tk_;
  std::function<void()> onTick_;
  bool enabled_ = false;
  int interval_ = 0;
  bool scheduled_ = false;
  VirtualToolkit::Key key_{};
};

VirtualToolkit::VirtualToolkit() = default;
VirtualToolkit::~VirtualToolkit() = default;

std::unique_ptr<Timer> VirtualToolkit::createTimer(std::function<void()> onTick) {
  return std::make_unique<VirtualTimer>(*this, std::move(onTick));
}

VirtualToolkit::Key VirtualToolkit::arm(int64_t at, Entry entry) {
  Key key{at < now_ ? now_ : at, seq_++};
  queue_.emplace(key, std::move(entry));
  return key;
}

void VirtualToolkit::disarm(const Key& key) {
  queue_.erase(key);
}

void VirtualToolkit::schedule(int64_t atMs, std::function<void()> fn) {
  arm(atMs, {std::move(fn), nullptr});
}

bool VirtualToolkit::nextDue(int64_t limit, Key* key) {
  if (queue_.empty() || queue_.begin()->first.first > limit) return false;
  *key = queue_.begin()->first;
  return true;
}

bool VirtualToolkit::step() {
  Key key;
  if (!nextDue(std::numeric_limits<int64_t>::max(), &key)) return false;
  Entry entry = std::move(queue_.begin()->second);
  queue_.erase(queue_.begin());
  sameTimeSteps_ = key.first == now_ ? sameTimeSteps_ + 1 : 0;
  if (sameTimeSteps_ > sameTimeStepLimit)
    throw std::runtime_error("virtual time stands still: events keep coming at one time");
  now_ = key.first;
  if (entry.timer) {
    entry.timer->fire();
  } else if (entry.fn) {
    entry.fn();
  }
  return true;
}

void VirtualToolkit::advance(int64_t ms) {
  const int64_t target = now_ + ms;
  Key key;
  while (nextDue(target, &key)) step();
  now_ = target;
}

bool VirtualToolkit::runUntil(const std::function<bool()>& done, int64_t limitMs) {
  const int64_t target = now_ + limitMs;
  Key key;
  while (!done()) {
    if (!nextDue(target, &key)) {
      now_ = target;
      return done();
    }
    step();
  }
  return true;
}

void VirtualToolkit::yield() {
  if (now_ > yieldHorizonMs) throw std::runtime_error("waited past the virtual time limit");
  Key key;
  if (nextDue(now_, &key)) {
    while (nextDue(now_, &key)) step();
    idleYields_ = 0;
    return;
  }
  if (step()) {
    idleYields_ = 0;
  } else if (++idleYields_ > idleYieldLimit) {
    throw std::runtime_error("waits with nothing scheduled: it can never end");
  }
}

void VirtualToolkit::messageBox(const std::string& text) {
  messages.push_back(text);
}

bool VirtualToolkit::askYesNo(const std::string& text, const std::string&) {
  prompts.push_back(text);
  if (whileAsking) whileAsking();
  if (yesNoAnswers.empty()) return false;
  bool answer = yesNoAnswers.front();
  yesNoAnswers.pop_front();
  return answer;
}

std::string VirtualToolkit::inputBox(const std::string& prompt, const std::string& title,
                                     const std::string& defaultText) {
  prompts.push_back(prompt);
  inputBoxes.push_back({prompt, title, defaultText});
  if (inputAnswers.empty()) return {};
  std::string answer = inputAnswers.front();
  inputAnswers.pop_front();
  return answer;
}

std::string VirtualToolkit::fileNameBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultName) {
  std::string answer = inputBox(prompt, title, defaultName);
  inputBoxes.back().fileName = true;
  return answer;
}

}  // namespace trv4::test
