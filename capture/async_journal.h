// The journal as the desk reaches it: every call returns at once, the work is done where it
// cannot hold up the link (capture/journal_thread.h is the program's), and each answer comes
// later from the asking thread's event loop, never within the call. The copy of the newest
// captures and the count waiting for delivery are kept as the journal changes, so reading them
// waits for nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_desk.h"
#include "capture/journal_failure.h"

namespace trv4 {

class AsyncJournal {
 public:
  virtual ~AsyncJournal() = default;

  // Stores the capture under the next sequence number. done gets it with its number and no
  // failure, or as it was and why it was not stored. On the thread that runs the desk.
  using Committed = std::function<void(const Capture&, const std::optional<JournalFailure>& why)>;
  virtual void commit(Capture capture, Committed done) = 0;
  // The broker acknowledged the capture. On the thread that runs the desk.
  virtual void markDelivered(uint64_t sequence) = 0;

  // Any thread: captures above `sequence`, oldest first, at most limit.
  virtual void readAfter(uint64_t sequence, std::size_t limit,
                         std::function<void(std::vector<Capture>)> done) const = 0;
  // Any thread: captures not yet delivered above `sequence`, oldest first, at most limit.
  virtual void readUndelivered(uint64_t sequence, std::size_t limit,
                               std::function<void(std::vector<Capture>)> done) const = 0;

  // Any thread, from the kept copy: the newest captures, newest first, at most
  // min(limit, kNewestKept), and how many wait for delivery.
  virtual std::vector<Capture> newest(std::size_t limit) const = 0;
  virtual std::size_t undeliveredCount() const = 0;
};

}  // namespace trv4
