#include "capture/sqlite_journal.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "base/calendar_fields.h"
#include "base/file_names.h"
#include "capture/sequence_mark.h"

namespace trv4 {

namespace {

// "TRV4" in the file's header: a database of another program is no journal.
constexpr int kApplicationId = 0x54525634;
constexpr int kSchemaVersion = 1;

constexpr const char* kColumns =
    "sequence, scale, text, digits, decimals, unit, net, utc_ms, requested_by, delivered";

bool damage(int rc) {
  const int primary = rc & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// One prepared statement, finalized with it.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    rc_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &st_, nullptr);
    prepared_ = rc_ == SQLITE_OK && st_ != nullptr;
  }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool prepared() const { return prepared_; }
  int rc() const { return rc_; }
  void bind(int i, int64_t v) { sqlite3_bind_int64(st_, i, v); }
  void bind(int i, const std::string& s) {
    sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int step() { return rc_ = prepared_ ? sqlite3_step(st_) : rc_; }
  int64_t integer(int col) const { return sqlite3_column_int64(st_, col); }
  std::string text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st_, col))) : "";
  }

 private:
  sqlite3_stmt* st_ = nullptr;
  int rc_ = SQLITE_OK;
  bool prepared_ = false;
};

int exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// The single value a statement gives, or the error code it failed with.
std::pair<int, int64_t> single(sqlite3* db, const std::string& sql) {
  Statement st(db, sql);
  if (!st.prepared()) return {st.rc(), 0};
  const int rc = st.step();
  if (rc == SQLITE_ROW) return {SQLITE_OK, st.integer(0)};
  return {rc == SQLITE_DONE ? SQLITE_OK : rc, 0};
}

Capture rowCapture(const Statement& st) {
  Capture c;
  c.sequence = static_cast<uint64_t>(st.integer(0));
  c.scale = static_cast<int>(st.integer(1));
  c.text = st.text(2);
  c.digits = static_cast<int32_t>(st.integer(3));
  c.decimals = static_cast<int>(st.integer(4));
  c.unit = st.text(5);
  c.net = st.integer(6) != 0;
  c.utcMs = st.integer(7);
  c.requestedBy = st.text(8);
  c.delivered = st.integer(9) != 0;
  return c;
}

bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(filePath(path), ec);
}

// The highest number a damaged journal shows it has used, when it can be read at all.
std::optional<uint64_t> highestIn(const std::string& path) {
  sqlite3* db = nullptr;
  std::optional<uint64_t> high;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    const auto id = single(db, "PRAGMA application_id");
    if (id.first == SQLITE_OK && id.second == kApplicationId) {
      if (const auto top = single(db, "SELECT max(sequence) FROM capture"); top.first == SQLITE_OK)
        high = static_cast<uint64_t>(std::max<int64_t>(top.second, 0));
      if (const auto first = single(db, "SELECT first FROM numbering");
          first.first == SQLITE_OK && first.second > 0)
        high = std::max(high.value_or(0), static_cast<uint64_t>(first.second - 1));
    }
  }
  sqlite3_close_v2(db);
  return high;
}

// TRV4CAP.DB → TRV4CAP.damaged-20261206-140359.DB, numbered on when that name is taken.
std::string asideName(const std::string& path, int64_t wallMs) {
  const std::filesystem::path p = filePath(path);
  const std::tm t = utcFields(static_cast<std::time_t>(wallMs / 1000));
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, ".damaged-%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  const std::string head = fileNameText(p.parent_path() / p.stem()) + stamp;
  const std::string ext = fileNameText(p.extension());
  std::string name = head + ext;
  for (int n = 2; exists(name) || exists(name + "-wal") || exists(name + "-shm"); ++n)
    name = head + "-" + std::to_string(n) + ext;
  return name;
}

std::string baseName(const std::string& path) {
  return fileNameText(filePath(path).filename());
}

}  // namespace

SqliteJournal::SqliteJournal(Toolkit& toolkit, std::string path, int busyWaitMs)
    : toolkit_(toolkit),
      path_(std::move(path)),
      markPath_(fileNameText(filePath(path_).parent_path() / kSequenceMarkFileName)),
      busyWaitMs_(busyWaitMs) {
  std::optional<JournalFailure> why;
  if (!open(false, &why) && why)
    toolkit_.messageBox(journalFailureText(*why, JournalTelling::kAtStart));
}

SqliteJournal::~SqliteJournal() {
  close();
}

std::string SqliteJournal::name() const {
  return baseName(path_);
}

void SqliteJournal::close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

SqliteJournal::Opened SqliteJournal::openExisting(std::string* why) {
  close();
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    *why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    close();
    return Opened::kCannot;
  }
  sqlite3_busy_timeout(db_, busyWaitMs_);
  const auto fail = [&](int rc) {
    *why = sqlite3_errmsg(db_);
    close();
    return damage(rc) ? Opened::kDamaged : Opened::kCannot;
  };
  // Only read until it is known to be a journal: another program's file stays as it was.
  const auto id = single(db_, "PRAGMA application_id");
  if (id.first != SQLITE_OK) return fail(id.first);
  const auto tables = single(db_, "SELECT count(*) FROM sqlite_master");
  if (tables.first != SQLITE_OK) return fail(tables.first);
  if (id.second == 0 && tables.second == 0) return Opened::kEmpty;
  const auto version = single(db_, "PRAGMA user_version");
  if (id.second != kApplicationId || version.second != kSchemaVersion) {
    *why = id.second != kApplicationId ? "it is not a capture journal"
                                       : "it is of another version of the program";
    close();
    return Opened::kDamaged;
  }
  if (!checked_) {
    ++checks_;
    Statement check(db_, "PRAGMA quick_check");
    const int rc = check.step();
    if (rc != SQLITE_ROW) return fail(rc);
    if (check.text(0) != "ok") {
      *why = "it fails its integrity check: " + check.text(0);
      close();
      return Opened::kDamaged;
    }
  }
  const auto first = single(db_, "SELECT first FROM numbering");
  if (first.first != SQLITE_OK) return fail(first.first);
  Statement columns(db_, std::string("SELECT ") + kColumns + " FROM capture LIMIT 0");
  if (!columns.prepared() || first.second < 1) {
    *why = "its tables are not a capture journal's";
    close();
    return Opened::kDamaged;
  }
  if (const int rc = exec(db_, "PRAGMA journal_mode=WAL"); rc != SQLITE_OK) return fail(rc);
  if (const int rc = exec(db_, "PRAGMA synchronous=FULL"); rc != SQLITE_OK) return fail(rc);
  first_ = static_cast<uint64_t>(first.second);
  checked_ = true;
  return Opened::kJournal;
}

bool SqliteJournal::makeTables(uint64_t first, std::string* why) {
  const char* schema =
      "BEGIN IMMEDIATE;"
      "CREATE TABLE capture (sequence INTEGER PRIMARY KEY, scale INTEGER NOT NULL,"
      " text TEXT NOT NULL, digits INTEGER NOT NULL, decimals INTEGER NOT NULL,"
      " unit TEXT NOT NULL, net INTEGER NOT NULL, utc_ms INTEGER NOT NULL,"
      " requested_by TEXT NOT NULL, delivered INTEGER NOT NULL DEFAULT 0);"
      "CREATE INDEX capture_waiting ON capture(sequence) WHERE delivered = 0;"
      "CREATE TABLE numbering (first INTEGER NOT NULL);";
  bool ok = exec(db_, "PRAGMA journal_mode=WAL") == SQLITE_OK &&
            exec(db_, "PRAGMA synchronous=FULL") == SQLITE_OK && exec(db_, schema) == SQLITE_OK;
  if (ok) {
    Statement insert(db_, "INSERT INTO numbering (first) VALUES (?)");
    insert.bind(1, static_cast<int64_t>(first));
    ok = insert.step() == SQLITE_DONE;
  }
  ok =
      ok &&
      exec(db_, ("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str()) == SQLITE_OK &&
      exec(db_, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str()) == SQLITE_OK &&
      exec(db_, "COMMIT") == SQLITE_OK;
  if (!ok) {
    *why = sqlite3_errmsg(db_);
    exec(db_, "ROLLBACK");
    close();
    return false;
  }
  first_ = first;
  checked_ = true;
  return true;
}

JournalFailure SqliteJournal::cannotOpen(std::string detail) const {
  return {.code = JournalFailureCode::kCannotOpen, .journal = name(), .detail = std::move(detail)};
}

bool SqliteJournal::open(bool create, std::optional<JournalFailure>* why) {
  if (db_) return true;
  why->reset();
  const std::optional<uint64_t> mark = readSequenceMark(markPath_);
  reserved_ = mark.value_or(0);
  const bool existed = exists(path_);
  if (!existed) {
    if (!create) return false;
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      *why = cannotOpen(db_ ? sqlite3_errmsg(db_) : "out of memory");
      close();
      return false;
    }
    sqlite3_busy_timeout(db_, busyWaitMs_);
  }
  std::string reason;
  if (existed) {
    switch (openExisting(&reason)) {
      case Opened::kJournal:
        return true;
      case Opened::kEmpty:
        // Made and left before its tables were: it never held a capture.
        break;
      case Opened::kCannot:
        *why = cannotOpen(reason);
        return false;
      case Opened::kDamaged:
        return replaceDamaged(reason, why);
    }
  }
  if (makeTables(mark ? *mark + 1 : 1, &reason)) return true;
  *why = cannotOpen(reason);
  return false;
}

bool SqliteJournal::replaceDamaged(const std::string& damage, std::optional<JournalFailure>* why) {
  const std::optional<uint64_t> high = highestIn(path_);
  const std::optional<uint64_t> mark = readSequenceMark(markPath_);
  const std::string aside = asideName(path_, toolkit_.wallMs());
  std::error_code ec;
  std::filesystem::rename(filePath(path_), filePath(aside), ec);
  if (ec) {
    *why = JournalFailure{.code = JournalFailureCode::kDamagedStuck,
                          .journal = name(),
                          .detail = ec.message(),
                          .damage = damage};
    toolkit_.messageBox(journalFailureText(**why, JournalTelling::kNotice));
    return false;
  }
  // Its write-ahead log and index belong to it: they go along, never to the new journal.
  for (const char* side : {"-wal", "-shm"}) {
    std::error_code sideError;
    if (exists(path_ + side))
      std::filesystem::rename(filePath(path_ + side), filePath(aside + side), sideError);
  }

  uint64_t first = 1;
  if (high) first = std::max(first, *high + 1);
  if (mark) first = std::max(first, *mark + 1);
  // Nothing tells which numbers were used: seconds since 1970 times 1000 lie above any number a
  // journal started earlier can have reached at fewer than 1000 captures a second.
  const bool fromClock = !high && !mark;
  if (fromClock)
    first = static_cast<uint64_t>(std::max<int64_t>(toolkit_.wallMs() / 1000, 1)) * 1000;

  JournalFailure told{.code = JournalFailureCode::kDamagedReplaced,
                      .journal = name(),
                      .damage = damage,
                      .aside = baseName(aside),
                      .first = first,
                      .fromClock = fromClock};
  std::string madeWhy;
  const bool made = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                    nullptr) == SQLITE_OK &&
                    sqlite3_busy_timeout(db_, busyWaitMs_) == SQLITE_OK &&
                    makeTables(first, &madeWhy);
  if (!made) {
    if (madeWhy.empty()) madeWhy = db_ ? sqlite3_errmsg(db_) : "out of memory";
    close();
    told.code = JournalFailureCode::kNoNewJournal;
    told.detail = madeWhy;
    *why = told;
    toolkit_.messageBox(journalFailureText(told, JournalTelling::kNotice));
    return false;
  }
  toolkit_.messageBox(journalFailureText(told, JournalTelling::kNotice));
  return true;
}

JournalFailure SqliteJournal::failedWrite() {
  JournalFailure refusal{.code = JournalFailureCode::kCannotWrite,
                         .journal = name(),
                         .detail = db_ ? sqlite3_errmsg(db_) : "closed"};
  if (db_) exec(db_, "ROLLBACK");
  close();
  backOff(refusal);
  return refusal;
}

bool SqliteJournal::reopenIfDue() {
  if (db_) return true;
  if (retryAtMs_ > toolkit_.steadyMs()) return false;
  std::optional<JournalFailure> why;
  return open(false, &why);
}

void SqliteJournal::backOff(JournalFailure refusal) {
  retryMs_ = retryMs_ == 0 ? kJournalRetryFirstMs : std::min(retryMs_ * 2, kJournalRetryMaxMs);
  retryAtMs_ = toolkit_.steadyMs() + retryMs_;
  refusal_ = std::move(refusal);
}

std::optional<JournalFailure> SqliteJournal::commit(Capture& capture) {
  // A journal deleted or moved away meanwhile would take the capture with it.
  if (db_ && !exists(path_)) close();
  if (!db_ && retryAtMs_ > toolkit_.steadyMs()) {
    const int64_t left = retryAtMs_ - toolkit_.steadyMs();
    JournalFailure paused = refusal_;
    paused.retryInS = static_cast<int>((left + 999) / 1000);
    return paused;
  }
  std::optional<JournalFailure> why;
  if (!open(true, &why)) {
    const JournalFailure refusal = why.value_or(cannotOpen({}));
    backOff(refusal);
    return refusal;
  }
  if (exec(db_, "BEGIN IMMEDIATE") != SQLITE_OK) return failedWrite();
  const auto top = single(db_, "SELECT max(sequence) FROM capture");
  if (top.first != SQLITE_OK) return failedWrite();
  const uint64_t next =
      std::max(static_cast<uint64_t>(std::max<int64_t>(top.second, 0)) + 1, first_);
  if (next > reserved_) {
    // Another process may have set the mark further.
    reserved_ = std::max(reserved_, readSequenceMark(markPath_).value_or(0));
    if (next > reserved_) {
      if (!writeSequenceMark(markPath_, next + kSequenceBlock - 1)) {
        exec(db_, "ROLLBACK");
        return JournalFailure{.code = JournalFailureCode::kMarkNotWritten,
                              .journal = baseName(markPath_)};
      }
      reserved_ = next + kSequenceBlock - 1;
    }
  }
  Statement insert(db_, std::string("INSERT INTO capture (") + kColumns +
                            ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 0)");
  insert.bind(1, static_cast<int64_t>(next));
  insert.bind(2, capture.scale);
  insert.bind(3, capture.text);
  insert.bind(4, capture.digits);
  insert.bind(5, capture.decimals);
  insert.bind(6, capture.unit);
  insert.bind(7, capture.net ? 1 : 0);
  insert.bind(8, capture.utcMs);
  insert.bind(9, capture.requestedBy);
  if (insert.step() != SQLITE_DONE) return failedWrite();
  if (exec(db_, "COMMIT") != SQLITE_OK) return failedWrite();
  capture.sequence = next;
  capture.delivered = false;
  retryMs_ = 0;
  return std::nullopt;
}

bool SqliteJournal::markDelivered(uint64_t sequence, bool* newly) {
  if (newly) *newly = false;
  if (!reopenIfDue()) return false;
  // A mark lost with the power only sends the capture once more, which a subscriber tells by its
  // number: marks are not forced to the disk one by one (the next capture's commit takes them
  // along), so a long backlog does not cost a disk sync per acknowledgement.
  exec(db_, "PRAGMA synchronous=NORMAL");
  bool marked = false;
  {
    Statement update(db_, "UPDATE capture SET delivered = 1 WHERE sequence = ? AND delivered = 0");
    update.bind(1, static_cast<int64_t>(sequence));
    marked = update.step() == SQLITE_DONE;
    if (marked && newly) *newly = sqlite3_changes(db_) > 0;
  }
  exec(db_, "PRAGMA synchronous=FULL");
  return marked;
}

std::vector<Capture> SqliteJournal::rows(const std::string& where,
                                         const std::vector<int64_t>& params) {
  std::vector<Capture> out;
  if (!reopenIfDue()) return out;
  Statement st(db_, std::string("SELECT ") + kColumns + " FROM capture " + where);
  for (std::size_t i = 0; i < params.size(); ++i) st.bind(static_cast<int>(i + 1), params[i]);
  while (st.step() == SQLITE_ROW) out.push_back(rowCapture(st));
  return out;
}

namespace {
int64_t limitOf(std::size_t limit) {
  return static_cast<int64_t>(std::min<std::size_t>(limit, INT64_MAX));
}
}  // namespace

std::vector<Capture> SqliteJournal::after(uint64_t sequence, std::size_t limit) {
  return rows("WHERE sequence > ? ORDER BY sequence LIMIT ?",
              {static_cast<int64_t>(sequence), limitOf(limit)});
}

std::vector<Capture> SqliteJournal::newest(std::size_t limit) {
  return rows("ORDER BY sequence DESC LIMIT ?", {limitOf(limit)});
}

std::vector<Capture> SqliteJournal::undelivered(uint64_t sequence, std::size_t limit) {
  return rows("WHERE delivered = 0 AND sequence > ? ORDER BY sequence LIMIT ?",
              {static_cast<int64_t>(sequence), limitOf(limit)});
}

std::size_t SqliteJournal::undeliveredCount() {
  if (!reopenIfDue()) return 0;
  const auto n = single(db_, "SELECT count(*) FROM capture WHERE delivered = 0");
  return n.first == SQLITE_OK ? static_cast<std::size_t>(n.second) : 0;
}

int64_t SqliteJournal::removeDelivered(int64_t takenBeforeUtcMs) {
  if (!reopenIfDue()) return -1;
  if (exec(db_, "BEGIN IMMEDIATE") != SQLITE_OK) return -1;
  // The numbering starts above the highest number so far: removing the newest captures never
  // lets their numbers come again.
  bool ok = exec(db_,
                 "UPDATE numbering SET first = max(first,"
                 " (SELECT coalesce(max(sequence), 0) + 1 FROM capture))") == SQLITE_OK;
  int64_t removed = 0;
  if (ok) {
    Statement remove(db_, "DELETE FROM capture WHERE delivered = 1 AND utc_ms < ?");
    remove.bind(1, takenBeforeUtcMs);
    ok = remove.step() == SQLITE_DONE;
    removed = sqlite3_changes(db_);
  }
  const auto first = single(db_, "SELECT first FROM numbering");
  if (!ok || first.first != SQLITE_OK || exec(db_, "COMMIT") != SQLITE_OK) {
    exec(db_, "ROLLBACK");
    return -1;
  }
  first_ = static_cast<uint64_t>(std::max<int64_t>(first.second, 1));
  return removed;
}

std::string captureJournalPathBeside(const std::string& configPath) {
  return fileNameText(filePath(configPath).parent_path() / kCaptureJournalFileName);
}

}  // namespace trv4
