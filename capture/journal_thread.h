// The journal on a thread of its own, owning the SQLite connection: opening with its integrity
// check, commits with their disk sync, a busy wait on a journal another process holds, reopening
// after a failure and reads all happen there, so none of them holds up the link or the windows.
// Calls return at once; answers come from the asking thread's event loop. The copy of the newest
// captures and the waiting count is kept up to date there (capture/journal_copy.h).
//
// With keepDays set, delivered captures older than that many days are removed at opening and
// then every kJournalPruneMs; captures waiting for delivery are always kept.
#pragma once

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <string>

#include "base/toolkit.h"
#include "capture/async_journal.h"
#include "capture/journal_copy.h"
#include "capture/sqlite_journal.h"

namespace trv4 {

inline constexpr int kJournalPruneMs = 3600 * 1000;
inline constexpr int kJournalKeepDaysMax = 36500;

struct JournalOptions {
  int keepDays = 0;  // 0: every capture is kept
  int busyWaitMs = kJournalBusyWaitMs;
  int pruneMs = kJournalPruneMs;
};

class JournalThread : public AsyncJournal {
 public:
  // The journal's messages (a damaged file set aside, one that can not be opened) are shown
  // through toolkit on the thread that makes this object.
  JournalThread(Toolkit& toolkit, std::string path, JournalOptions options = {});
  // Finishes what was asked before, then ends the thread.
  ~JournalThread() override;
  JournalThread(const JournalThread&) = delete;
  JournalThread& operator=(const JournalThread&) = delete;

  void commit(Capture capture, Committed done) override;
  void markDelivered(uint64_t sequence) override;
  void readAfter(uint64_t sequence, std::size_t limit,
                 std::function<void(std::vector<Capture>)> done) const override;
  void readUndelivered(uint64_t sequence, std::size_t limit,
                       std::function<void(std::vector<Capture>)> done) const override;
  std::vector<Capture> newest(std::size_t limit) const override;
  std::size_t undeliveredCount() const override;

  // Any thread: fn runs on the journal thread with the journal; then done from the asking
  // thread's event loop.
  void inspect(std::function<void(SqliteJournal&)> fn, std::function<void()> done) const;

 private:
  struct Side;
  // Runs work on the journal thread, in the order asked.
  void run(std::function<void(Side&)> work) const;

  Toolkit& toolkit_;
  QObject here_;  // on the making thread: messages are shown through it
  QThread thread_;
  QObject* worker_ = nullptr;   // on the journal thread
  std::unique_ptr<Side> side_;  // used on the journal thread only
  JournalCopy copy_;
};

}  // namespace trv4
