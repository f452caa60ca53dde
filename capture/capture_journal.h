// Where committed captures are kept: the journal gives each the next sequence number and has it
// on the disk before commit returns. capture/sqlite_journal.h is the program's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_desk.h"

namespace trv4 {

class CaptureJournal {
 public:
  virtual ~CaptureJournal() = default;

  // Stores the capture under the next sequence number and sets capture.sequence. "" once it is
  // on the disk; otherwise why not, in plain words, and nothing was stored.
  virtual std::string commit(Capture& capture) = 0;
  // The broker acknowledged the capture; false when the mark could not be stored.
  virtual bool markDelivered(uint64_t sequence) = 0;

  // Captures with a sequence number above `sequence`, oldest first, at most limit.
  virtual std::vector<Capture> after(uint64_t sequence, std::size_t limit) const = 0;
  // The newest captures, newest first, at most limit.
  virtual std::vector<Capture> newest(std::size_t limit) const = 0;
  // Captures not yet delivered with a sequence number above `sequence`, oldest first.
  virtual std::vector<Capture> undelivered(uint64_t sequence, std::size_t limit) const = 0;
  virtual std::size_t undeliveredCount() const = 0;
};

}  // namespace trv4
