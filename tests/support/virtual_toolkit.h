// A toolkit running in virtual time: timers and scheduled events sit in one time-ordered queue,
// nothing sleeps, and every run is repeatable. Message boxes are recorded; input and Yes/No boxes
// are answered from scripts.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "base/toolkit.h"

namespace trv4::test {

class VirtualTimer;

class VirtualToolkit : public Toolkit {
 public:
  VirtualToolkit();
  ~VirtualToolkit() override;

  std::unique_ptr<Timer> createTimer(std::function<void()> onTick) override;
  // Runs what is due now; when nothing is, moves the clock to the next event and runs it.
  void yield() override;
  void messageBox(const std::string& text) override;
  bool askYesNo(const std::string& text, const std::string& title) override;
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;
  // Recorded and answered like an input box, marked as asking for a file name.
  std::string fileNameBox(const std::string& prompt, const std::string& title,
                          const std::string& defaultName) override;
  void setBusy(bool busy) override { busy_ = busy; }
  ClockText clockText() override { return {dateTextValue, timeTextValue}; }
  int64_t steadyMs() override { return now_; }
  int64_t wallMs() override { return wallBaseMs + now_; }
  // The system clock at virtual time 0 (2026-12-06 14:03:59 UTC).
  int64_t wallBaseMs = 1796565839000;

  // Virtual clock, in ms since the toolkit was made.
  int64_t now() const { return now_; }
  // Runs fn at virtual time atMs (not before now).
  void schedule(int64_t atMs, std::function<void()> fn);
  // Runs every timer tick and event due up to now + ms, in time order, then sets the clock there.
  void advance(int64_t ms);
  // Advances until done() holds (checked after every event) or limitMs have passed.
  bool runUntil(const std::function<bool()>& done, int64_t limitMs);
  // Runs the next due timer tick or event, moving the clock to it. False when there is none.
  bool step();

  bool busy() const { return busy_; }

  // Bounds that turn a wait that can never end into a failure (an exception out of the waiting
  // code) rather than a hang: yield() past this virtual time, yield() with nothing scheduled this
  // many times running, or this many events in a row at one virtual time.
  int64_t yieldHorizonMs = 24LL * 3600 * 1000;
  int idleYieldLimit = 1'000'000;
  int sameTimeStepLimit = 1'000'000;

  std::vector<std::string> messages;     // texts of the OK boxes shown, in order
  std::deque<std::string> inputAnswers;  // answers of input boxes; "" (Cancel) when empty
  std::deque<bool> yesNoAnswers;         // answers of Yes/No boxes; No when empty
  std::function<void()> whileAsking;     // runs while a Yes/No box is shown, as the operator would
  std::vector<std::string> prompts;      // prompts of the input and Yes/No boxes shown
  struct InputBox {
    std::string prompt, title, defaultText;
    bool fileName = false;  // asked through fileNameBox
    bool operator==(const InputBox&) const = default;
    friend void PrintTo(const InputBox& b, std::ostream* os) {
      *os << (b.fileName ? "file-name box " : "input box ") << '"' << b.prompt << "\" \"" << b.title
          << "\" default \"" << b.defaultText << '"';
    }
  };
  std::vector<InputBox> inputBoxes;  // the input and file-name boxes shown
  std::string dateTextValue = "2026-12-06";
  std::string timeTextValue = "12:00:00";

 private:
  friend class VirtualTimer;
  struct Entry {
    std::function<void()> fn;
    VirtualTimer* timer = nullptr;
  };
  using Key = std::pair<int64_t, uint64_t>;  // due time, order of arming
  Key arm(int64_t at, Entry entry);
  void disarm(const Key& key);
  bool nextDue(int64_t limit, Key* key);

  int64_t now_ = 0;
  uint64_t seq_ = 0;
  bool busy_ = false;
  int idleYields_ = 0;
  int sameTimeSteps_ = 0;
  std::map<Key, Entry> queue_;
};

}  // namespace trv4::test
