// The capture journal on SQLite: TRV4CAP.DB beside TRV4.INI. Every commit is a transaction of its
// own in write-ahead-log mode with synchronous=FULL, so a capture is on the disk when commit
// returns and outlives the program being killed or the power failing right after. The file is
// made at the first capture: a program that never captures writes nothing.
//
// A file that is no journal (not SQLite, another program's database, failing its integrity
// check) is told, renamed aside and never deleted: TRV4CAP.DB becomes
// TRV4CAP.damaged-20261206-140359.DB (its -wal and -shm files alike), and a new journal starts
// whose numbers continue above the highest the damaged one shows and above the high-water mark
// (capture/sequence_mark.h); when neither can be read, above a base taken from the clock.
//
// The integrity check runs once, when the file is first opened. A write that fails closes the
// journal; it is opened again (without the check) at the first capture after a pause of 1 s,
// doubling at each failure in a row up to 30 s, and captures in the pause are refused at once.
// A journal another process holds is waited for up to busyWaitMs per statement.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/toolkit.h"
#include "capture/capture_journal.h"

struct sqlite3;

namespace trv4 {

inline constexpr const char* kCaptureJournalFileName = "TRV4CAP.DB";
inline constexpr int kJournalBusyWaitMs = 5000;
inline constexpr int kJournalRetryFirstMs = 1000;
inline constexpr int kJournalRetryMaxMs = 30000;

class SqliteJournal : public CaptureJournal {
 public:
  // Opens the journal at path when the file is there; a damaged one is set aside and one that
  // cannot be opened is told through toolkit.messageBox. The high-water mark sits beside it.
  SqliteJournal(Toolkit& toolkit, std::string path, int busyWaitMs = kJournalBusyWaitMs);
  ~SqliteJournal() override;
  SqliteJournal(const SqliteJournal&) = delete;
  SqliteJournal& operator=(const SqliteJournal&) = delete;

  bool isOpen() const { return db_ != nullptr; }
  const std::string& path() const { return path_; }

  // A journal that is closed (missing, or closed after a failed write) is opened or made first.
  std::optional<JournalFailure> commit(Capture& capture) override;
  bool markDelivered(uint64_t sequence, bool* newly = nullptr) override;
  std::vector<Capture> after(uint64_t sequence, std::size_t limit) override;
  std::vector<Capture> newest(std::size_t limit) override;
  std::vector<Capture> undelivered(uint64_t sequence, std::size_t limit) override;
  std::size_t undeliveredCount() override;

  // Removes the delivered captures taken before takenBeforeUtcMs; the numbering goes on above
  // the highest number ever used. How many went, or -1 when the journal could not be changed.
  int64_t removeDelivered(int64_t takenBeforeUtcMs);
  // Integrity checks run since this object was made.
  int checks() const { return checks_; }

 private:
  enum class Opened { kJournal, kEmpty, kCannot, kDamaged };
  // Opens the file at path_ into db_; why is set unless it is a journal.
  Opened openExisting(std::string* why);
  // A journal closed after a failure is opened again once its pause is over; true when open.
  bool reopenIfDue();
  // The next pause after a failure; refusal is what captures in it are told.
  void backOff(JournalFailure refusal);
  // Makes the tables in the open, empty db_, numbering from first.
  bool makeTables(uint64_t first, std::string* why);
  // Opens the journal, making it when the file is missing and create is set; false with why
  // when there is none afterwards (none when it is simply not made yet).
  bool open(bool create, std::optional<JournalFailure>* why);
  JournalFailure cannotOpen(std::string detail) const;
  // Renames the damaged file aside and makes a new journal; told through the toolkit.
  bool replaceDamaged(const std::string& damage, std::optional<JournalFailure>* why);
  void close();
  std::string name() const;
  // A write that failed: rolled back, the journal closed for the next commit to open again.
  JournalFailure failedWrite();
  // The captures a query's WHERE/ORDER/LIMIT part selects, its parameters bound in order.
  std::vector<Capture> rows(const std::string& where, const std::vector<int64_t>& params);

  Toolkit& toolkit_;
  std::string path_;
  std::string markPath_;
  sqlite3* db_ = nullptr;
  uint64_t first_ = 1;     // the lowest number the open journal gives
  uint64_t reserved_ = 0;  // the high-water mark as last read or written
  int busyWaitMs_;
  bool checked_ = false;  // the integrity check ran (or the file was made here)
  int checks_ = 0;
  int retryMs_ = 0;        // the last pause after a failure; 0 after a success
  int64_t retryAtMs_ = 0;  // steady time the pause ends
  JournalFailure refusal_{.code = JournalFailureCode::kCannotWrite};  // why the last one failed
};

// TRV4CAP.DB in the folder of the configuration file at configPath.
std::string captureJournalPathBeside(const std::string& configPath);

}  // namespace trv4
