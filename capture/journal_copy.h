// What the windows and HTTP read of the journal without asking it: the newest kNewestKept
// captures and the count waiting for delivery. The side that runs the journal keeps it up to
// date; any thread reads it. The lock is held only to copy, never across SQL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "capture/capture_desk.h"

namespace trv4 {

class JournalCopy {
 public:
  // Everything again, as the journal holds it now (newest first).
  void reload(std::vector<Capture> newest, std::size_t undelivered);
  // A capture just committed.
  void committed(const Capture& capture);
  // A capture newly marked delivered.
  void delivered(uint64_t sequence);

  std::vector<Capture> newest(std::size_t limit) const;
  std::size_t undelivered() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Capture> newest_;  // newest first
  std::size_t undelivered_ = 0;
};

}  // namespace trv4
