// A journal in memory for the tests of the desks and what uses them: numbers from 1, and a switch
// that makes every commit fail as a full disk would. InlineJournal runs any journal for a desk in
// virtual time: each call's work is done in the call and its answer comes at the toolkit's next
// tick, 1 ms later, as the journal thread's would come from the event loop.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "capture/async_journal.h"
#include "capture/capture_journal.h"

namespace trv4::test {

struct MemoryJournal : CaptureJournal {
  std::optional<JournalFailure> commit(Capture& c) override {
    if (failWith) return failWith;
    c.sequence = rows.empty() ? 1 : rows.back().sequence + 1;
    rows.push_back(c);
    return std::nullopt;
  }
  bool markDelivered(uint64_t sequence, bool* newly) override {
    if (newly) *newly = false;
    for (Capture& c : rows)
      if (c.sequence == sequence) {
        if (newly) *newly = !c.delivered;
        c.delivered = true;
      }
    return true;
  }
  std::vector<Capture> after(uint64_t sequence, std::size_t limit) override {
    std::vector<Capture> out;
    for (const Capture& c : rows)
      if (c.sequence > sequence && out.size() < limit) out.push_back(c);
    return out;
  }
  std::vector<Capture> newest(std::size_t limit) override {
    std::vector<Capture> out(rows.rbegin(), rows.rend());
    out.resize(std::min(limit, out.size()));
    return out;
  }
  std::vector<Capture> undelivered(uint64_t sequence, std::size_t limit) override {
    std::vector<Capture> out;
    for (const Capture& c : rows)
      if (!c.delivered && c.sequence > sequence && out.size() < limit) out.push_back(c);
    return out;
  }
  std::size_t undeliveredCount() override {
    return static_cast<std::size_t>(std::ranges::count(rows, false, &Capture::delivered));
  }

  std::vector<Capture> rows;
  std::optional<JournalFailure> failWith;  // set: every commit fails with it
};

class InlineJournal : public AsyncJournal {
 public:
  InlineJournal(CaptureJournal& journal, Toolkit& tk)
      : journal_(journal), timer_(tk.createTimer([this] { answer(); })) {}

  void commit(Capture c, Committed done) override {
    const std::optional<JournalFailure> why = journal_.commit(c);
    later([c, why, done = std::move(done)] { done(c, why); });
  }
  void markDelivered(uint64_t sequence) override { journal_.markDelivered(sequence); }
  void readAfter(uint64_t sequence, std::size_t limit,
                 std::function<void(std::vector<Capture>)> done) const override {
    later([rows = journal_.after(sequence, limit), done = std::move(done)] { done(rows); });
  }
  void readUndelivered(uint64_t sequence, std::size_t limit,
                       std::function<void(std::vector<Capture>)> done) const override {
    later([rows = journal_.undelivered(sequence, limit), done = std::move(done)] { done(rows); });
  }
  std::vector<Capture> newest(std::size_t limit) const override {
    return journal_.newest(std::min(limit, kNewestKept));
  }
  std::size_t undeliveredCount() const override { return journal_.undeliveredCount(); }

 private:
  void later(std::function<void()> fn) const {
    answers_.push_back(std::move(fn));
    if (!timer_->enabled()) timer_->restart(1);
  }
  void answer() {
    timer_->setEnabled(false);
    while (!answers_.empty()) {
      auto fn = std::move(answers_.front());
      answers_.pop_front();
      fn();
    }
  }

  CaptureJournal& journal_;
  std::unique_ptr<Timer> timer_;
  mutable std::deque<std::function<void()>> answers_;
};

}  // namespace trv4::test
