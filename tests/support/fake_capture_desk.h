// A capture desk for the tests of what uses one: it keeps every capture asked for open until the
// test finishes it, and commits to a journal in memory.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "capture/capture_desk.h"
#include "tests/support/memory_journal.h"

namespace trv4::test {

class FakeCaptureDesk : public CaptureDesk {
 public:
  struct Asked {
    CaptureRequest request;
    std::function<void(const CaptureOutcome&)> done;
  };

  void capture(const CaptureRequest& request,
               std::function<void(const CaptureOutcome&)> done) override;
  // Answers from the calling thread's event loop, as the program's desk does.
  void readAfter(uint64_t sequence, std::size_t limit,
                 std::function<void(std::vector<Capture>)> done) const override;
  std::vector<Capture> newest(std::size_t limit) const override { return journal.newest(limit); }
  std::size_t waitingForDelivery() const override { return journal.undeliveredCount(); }
  int addListener(std::function<void(const Capture&)> listener) override {
    listeners_[nextListener_] = std::move(listener);
    return nextListener_++;
  }
  void removeListener(int id) override { listeners_.erase(id); }

  // Captures asked for and not finished yet, oldest first.
  std::deque<Asked> open;
  // Every request asked for, finished or not.
  std::vector<CaptureRequest> asked;
  mutable MemoryJournal journal;

  // Commits the oldest open capture with text (such as "12.34 kg") and tells its asker and the
  // listeners. The capture as committed.
  Capture commitNext(const std::string& text, int32_t digits, int decimals, bool net = false);
  // Fails the oldest open capture.
  void failNext(CaptureFailure failure, const std::string& message);
  // Commits a capture nobody asked for here (the operator's, say).
  Capture commitOther(int scale, const std::string& text, int32_t digits, int decimals);

 private:
  Capture commit(int scale, const std::string& by, const std::string& text, int32_t digits,
                 int decimals, bool net);

  std::map<int, std::function<void(const Capture&)>> listeners_;
  int nextListener_ = 0;
};

}  // namespace trv4::test
