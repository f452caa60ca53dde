// Where committed captures are kept: the journal gives each the next sequence number and has it
// on the disk before commit returns. capture/sqlite_journal.h is the program's. Its calls do the
// disk's work in the call: the program makes them on the journal's own thread
// (capture/journal_thread.h), never where the link runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_desk.h"
#include "capture/journal_failure.h"

namespace trv4 {

class CaptureJournal {
 public:
  virtual ~CaptureJournal() = default;

  // Stores the capture under the next sequence number and sets capture.sequence. nullopt once it
  // is on the disk; otherwise why not, and nothing was stored.
  virtual std::optional<JournalFailure> commit(Capture& capture) = 0;
  // The broker acknowledged the capture; false when the mark could not be stored. *newly (when
  // given) tells whether it was waiting until now.
  virtual bool markDelivered(uint64_t sequence, bool* newly = nullptr) = 0;

  // Captures with a sequence number above `sequence`, oldest first, at most limit.
  virtual std::vector<Capture> after(uint64_t sequence, std::size_t limit) = 0;
  // The newest captures, newest first, at most limit.
  virtual std::vector<Capture> newest(std::size_t limit) = 0;
  // Captures not yet delivered with a sequence number above `sequence`, oldest first.
  virtual std::vector<Capture> undelivered(uint64_t sequence, std::size_t limit) = 0;
  virtual std::size_t undeliveredCount() = 0;
};

}  // namespace trv4
