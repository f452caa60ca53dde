// Why the capture journal failed, as a value: the code callers decide on, the detail its message
// needs, and journalFailureText(), the one place the journal's messages are worded.
#pragma once

#include <cstdint>
#include <string>

namespace trv4 {

enum class JournalFailureCode {
  kCannotOpen,       // the journal can not be opened or made: detail is SQLite's message
  kDamagedStuck,     // the file is damaged and can not be renamed aside: detail is the system's
  kNoNewJournal,     // the damaged file was set aside, but no new journal can be made
  kDamagedReplaced,  // the damaged file was set aside and a new journal started
  kCannotWrite,      // a write failed and was rolled back: detail is SQLite's message
  kMarkNotWritten,   // the high-water mark can not be written (journal names the mark's file)
};

// How a failure is told: as the refusal of one capture, as the notice when it happens, or as the
// notice that the journal found at start can not be opened.
enum class JournalTelling { kRefusal, kNotice, kAtStart };

struct JournalFailure {
  JournalFailureCode code;
  std::string journal{};   // the journal's file name
  std::string detail{};    // SQLite's message or the system's text
  std::string damage{};    // the damaged codes: what is wrong with the file
  std::string aside{};     // the name the damaged file was kept as
  uint64_t first = 0;      // kDamagedReplaced: the new journal's first number
  bool fromClock = false;  // kDamagedReplaced: first was taken from the clock
  int retryInS = 0;        // a refusal in the pause after a failure: seconds to the next try

  bool operator==(const JournalFailure&) const = default;
};

std::string journalFailureText(const JournalFailure& failure,
                               JournalTelling telling = JournalTelling::kRefusal);

}  // namespace trv4
