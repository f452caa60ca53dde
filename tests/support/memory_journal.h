// A journal in memory for the tests of the desks and what uses them: numbers from 1, and a switch
// that makes every commit fail as a full disk would.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "capture/capture_journal.h"

namespace trv4::test {

struct MemoryJournal : CaptureJournal {
  std::string commit(Capture& c) override {
    if (!failWith.empty()) return failWith;
    c.sequence = rows.empty() ? 1 : rows.back().sequence + 1;
    rows.push_back(c);
    return {};
  }
  bool markDelivered(uint64_t sequence) override {
    for (Capture& c : rows)
      if (c.sequence == sequence) c.delivered = true;
    return true;
  }
  std::vector<Capture> after(uint64_t sequence, std::size_t limit) const override {
    std::vector<Capture> out;
    for (const Capture& c : rows)
      if (c.sequence > sequence && out.size() < limit) out.push_back(c);
    return out;
  }
  std::vector<Capture> newest(std::size_t limit) const override {
    std::vector<Capture> out(rows.rbegin(), rows.rend());
    out.resize(std::min(limit, out.size()));
    return out;
  }
  std::vector<Capture> undelivered(uint64_t sequence, std::size_t limit) const override {
    std::vector<Capture> out;
    for (const Capture& c : rows)
      if (!c.delivered && c.sequence > sequence && out.size() < limit) out.push_back(c);
    return out;
  }
  std::size_t undeliveredCount() const override {
    return static_cast<std::size_t>(std::ranges::count(rows, false, &Capture::delivered));
  }

  std::vector<Capture> rows;
  std::string failWith;  // set: every commit fails with it
};

}  // namespace trv4::test
