#include "capture/journal_failure.h"

#include <gtest/gtest.h>

#include <tuple>

namespace trv4 {
namespace {

TEST(JournalFailureText, WordsEachCodeAsEachTellingSaysIt) {
  using C = JournalFailureCode;
  using T = JournalTelling;
  const std::string db = "TRV4CAP.DB", aside = "TRV4CAP.damaged-20261206-140359.DB";
  // code, journal, detail, damage, aside, first, from the clock, retry in
  const JournalFailure cannotOpen{C::kCannotOpen, db, "unable to open"},
      stuck{C::kDamagedStuck, db, "Permission denied", "garbage"},
      noNew{C::kNoNewJournal, db, "I/O error", "garbage", aside},
      replaced{C::kDamagedReplaced, db, "", "foreign", aside, 1001},
      fromClock{C::kDamagedReplaced, db, "", "foreign", aside, 1796565839000, true},
      locked{C::kCannotWrite, db, "locked"},
      paused{C::kCannotWrite, db, "locked", "", "", 0, false, 3};
  const std::string j = "The capture journal TRV4CAP.DB ";
  const std::tuple<JournalFailure, T, std::string> cases[] = {
      {cannotOpen, T::kRefusal, j + "can not be opened (unable to open): nothing was captured."},
      {cannotOpen, T::kAtStart,
       j + "can not be opened (unable to open). Captures are refused until it can be."},
      {stuck, T::kNotice,
       j + "is damaged (garbage) and can not be renamed aside (Permission denied). Captures are "
           "refused until it is moved away."},
      {noNew, T::kNotice,
       j + "is damaged (garbage). It was kept as " + aside +
           ", but a new journal can not be made (I/O error). Captures are refused."},
      {replaced, T::kNotice,
       j + "is damaged (foreign). It was kept as " + aside +
           " and a new journal started; its captures are numbered from 1001 on."},
      {fromClock, T::kNotice,
       j + "is damaged (foreign). It was kept as " + aside +
           " and a new journal started; as the old numbers can not be read, its captures are "
           "numbered from 1796565839000 on, a number taken from the clock."},
      {locked, T::kRefusal, j + "can not be written (locked): nothing was captured."},
      {paused, T::kRefusal,
       j + "can not be written (locked): nothing was captured. The journal is tried again in 3 s."},
      {{.code = C::kMarkNotWritten, .journal = "TRV4CAP.SEQ"},
       T::kRefusal,
       "The capture journal's mark TRV4CAP.SEQ can not be written: nothing was captured."},
  };
  for (const auto& [failure, telling, text] : cases)
    EXPECT_EQ(journalFailureText(failure, telling), text);
}

}  // namespace
}  // namespace trv4
