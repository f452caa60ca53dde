#include "capture/journal_failure.h"

#include <gtest/gtest.h>

#include <tuple>

namespace trv4 {
namespace {

// Every journal failure as the operator, the client or the log reads it.
TEST(JournalFailureText, WordsEachCodeAsEachTellingSaysIt) {
  using C = JournalFailureCode;
  using T = JournalTelling;
  const std::string db = "TRV4CAP.DB";
  const std::string aside = "TRV4CAP.damaged-20261206-140359.DB";
  const JournalFailure stuck{.code = C::kDamagedStuck,
                             .journal = db,
                             .detail = "Permission denied",
                             .damage = "file is not a database"};
  const JournalFailure noNew{.code = C::kNoNewJournal,
                             .journal = db,
                             .detail = "disk I/O error",
                             .damage = "file is not a database",
                             .aside = aside};
  const JournalFailure replaced{.code = C::kDamagedReplaced,
                                .journal = db,
                                .damage = "it is not a capture journal",
                                .aside = aside,
                                .first = 1001};
  JournalFailure fromClock = replaced;
  fromClock.first = 1796565839000;
  fromClock.fromClock = true;
  const JournalFailure locked{
      .code = C::kCannotWrite, .journal = db, .detail = "database is locked"};
  JournalFailure paused = locked;
  paused.retryInS = 3;
  const std::tuple<JournalFailure, T, std::string> cases[] = {
      {{.code = C::kCannotOpen, .journal = db, .detail = "unable to open database file"},
       T::kRefusal,
       "The capture journal TRV4CAP.DB can not be opened (unable to open database file): "
       "nothing was captured."},
      {{.code = C::kCannotOpen, .journal = db, .detail = "unable to open database file"},
       T::kAtStart,
       "The capture journal TRV4CAP.DB can not be opened (unable to open database file). "
       "Captures are refused until it can be."},
      {stuck, T::kRefusal,
       "The capture journal TRV4CAP.DB can not be opened (it is damaged (file is not a database) "
       "and can not be renamed aside: Permission denied): nothing was captured."},
      {stuck, T::kAtStart,
       "The capture journal TRV4CAP.DB can not be opened (it is damaged (file is not a database) "
       "and can not be renamed aside: Permission denied). Captures are refused until it can be."},
      {stuck, T::kNotice,
       "The capture journal TRV4CAP.DB is damaged (file is not a database) and can not be "
       "renamed aside (Permission denied). Captures are refused until it is moved away."},
      {noNew, T::kRefusal,
       "The capture journal TRV4CAP.DB can not be opened (a new journal can not be made: disk "
       "I/O error): nothing was captured."},
      {noNew, T::kNotice,
       "The capture journal TRV4CAP.DB is damaged (file is not a database). It was kept as "
       "TRV4CAP.damaged-20261206-140359.DB, but a new journal can not be made (disk I/O error). "
       "Captures are refused."},
      {replaced, T::kNotice,
       "The capture journal TRV4CAP.DB is damaged (it is not a capture journal). It was kept as "
       "TRV4CAP.damaged-20261206-140359.DB and a new journal started; its captures are numbered "
       "from 1001 on."},
      {fromClock, T::kNotice,
       "The capture journal TRV4CAP.DB is damaged (it is not a capture journal). It was kept as "
       "TRV4CAP.damaged-20261206-140359.DB and a new journal started; as the old numbers can not "
       "be read, its captures are numbered from 1796565839000 on, a number taken from the "
       "clock."},
      {locked, T::kRefusal,
       "The capture journal TRV4CAP.DB can not be written (database is locked): nothing was "
       "captured."},
      {paused, T::kRefusal,
       "The capture journal TRV4CAP.DB can not be written (database is locked): nothing was "
       "captured. The journal is tried again in 3 s."},
      {{.code = C::kMarkNotWritten, .journal = "TRV4CAP.SEQ"},
       T::kRefusal,
       "The capture journal's mark TRV4CAP.SEQ can not be written: nothing was captured."},
  };
  for (const auto& [failure, telling, text] : cases)
    EXPECT_EQ(journalFailureText(failure, telling), text);
}

}  // namespace
}  // namespace trv4
