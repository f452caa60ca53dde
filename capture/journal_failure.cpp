#include "capture/journal_failure.h"

namespace trv4 {

namespace {

using C = JournalFailureCode;

bool opening(C code) {
  return code == C::kCannotOpen || code == C::kDamagedStuck || code == C::kNoNewJournal;
}

// Why opening failed, as the parenthesis of "can not be opened (...)" says it.
std::string openReason(const JournalFailure& f) {
  switch (f.code) {
    case C::kDamagedStuck:
      return "it is damaged (" + f.damage + ") and can not be renamed aside: " + f.detail;
    case C::kNoNewJournal:
      return "a new journal can not be made: " + f.detail;
    default:
      return f.detail;
  }
}

std::string refusal(const JournalFailure& f) {
  const std::string journal = "The capture journal " + f.journal;
  switch (f.code) {
    case C::kCannotWrite:
      return journal + " can not be written (" + f.detail + "): nothing was captured.";
    case C::kMarkNotWritten:
      return "The capture journal's mark " + f.journal +
             " can not be written: nothing was captured.";
    default:
      return journal + " can not be opened (" + openReason(f) + "): nothing was captured.";
  }
}

std::string notice(const JournalFailure& f) {
  const std::string damaged = "The capture journal " + f.journal + " is damaged (" + f.damage + ")";
  switch (f.code) {
    case C::kDamagedStuck:
      return damaged + " and can not be renamed aside (" + f.detail +
             "). Captures are refused until it is moved away.";
    case C::kNoNewJournal:
      return damaged + ". It was kept as " + f.aside + ", but a new journal can not be made (" +
             f.detail + "). Captures are refused.";
    case C::kDamagedReplaced:
      return damaged + ". It was kept as " + f.aside + " and a new journal started" +
             (f.fromClock
                  ? "; as the old numbers can not be read, its captures are numbered from " +
                        std::to_string(f.first) + " on, a number taken from the clock."
                  : "; its captures are numbered from " + std::to_string(f.first) + " on.");
    default:
      return refusal(f);
  }
}

}  // namespace

std::string journalFailureText(const JournalFailure& f, JournalTelling telling) {
  switch (telling) {
    case JournalTelling::kNotice:
      return notice(f);
    case JournalTelling::kAtStart:
      if (opening(f.code))
        return "The capture journal " + f.journal + " can not be opened (" + openReason(f) +
               "). Captures are refused until it can be.";
      return notice(f);
    case JournalTelling::kRefusal:
      break;
  }
  const std::string text = refusal(f);
  if (f.retryInS <= 0) return text;
  return text + " The journal is tried again in " + std::to_string(f.retryInS) + " s.";
}

}  // namespace trv4
