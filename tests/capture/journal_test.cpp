// The capture journal on SQLite in a scratch folder.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/sequence_mark.h"
#include "capture/sqlite_journal.h"
#include "tests/support/virtual_toolkit.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::test {
namespace {

namespace fs = std::filesystem;
using scalesim::readFile;
using scalesim::writeFile;

Capture reading(int scale = 0) {
  const bool net = scale % 2 == 1;
  return {0, scale, "12.34 kg", 1234, 2, "kg", net, 1796565839123 + scale, "test, \"quoted\""};
}

auto fields(const Capture& c) {
  return std::tie(c.sequence, c.scale, c.text, c.digits, c.decimals, c.unit, c.net, c.utcMs,
                  c.requestedBy, c.delivered);
}

std::vector<uint64_t> numbers(const std::vector<Capture>& captures) {
  std::vector<uint64_t> out;
  for (const Capture& c : captures) out.push_back(c.sequence);
  return out;
}

struct JournalTest : ::testing::Test {
  std::string file(const std::string& name) const { return dir.file(name); }
  std::string path() const { return file(kCaptureJournalFileName); }
  // A fresh journal object on the folder, as after a restart.
  SqliteJournal& open() {
    journal.reset();
    journal = std::make_unique<SqliteJournal>(tk, path());
    return *journal;
  }
  uint64_t commit(int scale = 0) {
    Capture c = reading(scale);
    EXPECT_EQ(journal->commit(c), std::nullopt);
    return c.sequence;
  }
  // Runs statements on the journal's file as another program would.
  void sql(const std::string& statements) const {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  // The damaged files set aside.
  std::vector<std::string> asideFiles() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string().find(".damaged-") != std::string::npos)
        out.push_back(e.path().filename().string());
    return out;
  }

  scalesim::TempDir dir;
  VirtualToolkit tk;
  std::unique_ptr<SqliteJournal> journal;
};

TEST_F(JournalTest, NumbersMarksAndFieldsOutliveARestartAndADeletedFileGoesOnAboveTheMark) {
  open();
  EXPECT_FALSE(fs::exists(path())) << "nothing is written before the first capture";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(commit(i), i + 1u);
  EXPECT_TRUE(journal->markDelivered(2));
  EXPECT_EQ(readSequenceMark(file(kSequenceMarkFileName)), kSequenceBlock);

  open();
  EXPECT_EQ(numbers(journal->after(0, 10)), (std::vector<uint64_t>{1, 2, 3}));
  EXPECT_EQ(numbers(journal->undelivered(0, 10)), (std::vector<uint64_t>{1, 3}));
  EXPECT_EQ(journal->undeliveredCount(), 2u);
  Capture second = reading(1);
  second.sequence = 2;
  second.delivered = true;
  const std::vector<Capture> read = journal->after(1, 1);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(fields(read[0]), fields(second));
  EXPECT_EQ(commit(), 4u);

  // Deleted while open: the next capture goes to a new file, above the mark.
  for (const char* side : {"", "-wal", "-shm"}) fs::remove(path() + side);
  EXPECT_EQ(commit(), kSequenceBlock + 1);
  EXPECT_EQ(readSequenceMark(file(kSequenceMarkFileName)), 2 * kSequenceBlock);
  open();
  EXPECT_EQ(numbers(journal->after(0, 10)), std::vector<uint64_t>{kSequenceBlock + 1});
  EXPECT_TRUE(tk.messages.empty());
}

// Garbage, or another program's database: set aside untouched, with the reason; the new journal
// numbers above the mark, or from the clock when there is neither a mark nor numbers to read.
TEST_F(JournalTest, ADamagedOrForeignFileIsKeptAsideAndTheNewJournalNumbersAboveTheMark) {
  const std::string garbage = "these bytes are no database at all\n" + std::string(5000, 'Z');
  const std::tuple<const char*, bool, const char*, uint64_t> cases[] = {
      {"", true, "file is not a database", 1001},
      {"CREATE TABLE t (x); INSERT INTO t VALUES (7);", false, "it is not a capture journal",
       1796565839000},
  };
  for (const auto& [statements, marked, reason, first] : cases) {
    SCOPED_TRACE(reason);
    journal.reset();
    fs::remove_all(dir.path());
    fs::create_directories(dir.path());
    tk.messages.clear();
    if (marked) writeSequenceMark(file(kSequenceMarkFileName), 1000);
    if (*statements)
      sql(statements);
    else
      writeFile(path(), garbage);
    const std::string before = readFile(path());

    open();
    const std::string aside = "TRV4CAP.damaged-20261206-140359.DB";
    ASSERT_EQ(asideFiles(), std::vector<std::string>{aside});
    EXPECT_EQ(tk.messages, std::vector<std::string>{
                               journalFailureText({.code = JournalFailureCode::kDamagedReplaced,
                                                   .journal = "TRV4CAP.DB",
                                                   .damage = reason,
                                                   .aside = aside,
                                                   .first = first,
                                                   .fromClock = !marked},
                                                  JournalTelling::kNotice)});
    EXPECT_EQ(readFile(file(aside)), before);
    EXPECT_EQ(commit(), first);
  }
  // Damaged again the same second: a name of its own, the first one kept.
  journal.reset();
  writeFile(path(), garbage);
  open();
  EXPECT_EQ(asideFiles().size(), 2u);
  EXPECT_EQ(commit(), 1796565839000 + kSequenceBlock) << "above the mark the last journal set";
}

TEST_F(JournalTest, ADamagedJournalWhoseNumbersCanBeReadContinuesAboveItsHighest) {
  open();
  commit();
  journal.reset();
  fs::remove(file(kSequenceMarkFileName));
  sql("WITH RECURSIVE n(s) AS (SELECT 2 UNION ALL SELECT s + 1 FROM n WHERE s < 3000) INSERT INTO "
      "capture SELECT s, s % 30, '12.34 kg', 1234, 2, 'kg', 0, 1796565839123, 'test', 0 FROM n");
  // Spoil a page in the middle of the table: the integrity check fails, its last page still
  // tells the highest number.
  std::string bytes = readFile(path());
  ASSERT_GT(bytes.size(), 40u * 4096);
  writeFile(path(), bytes.replace(20 * 4096 + 100, 2900, 2900, '\x7f'));
  open();
  ASSERT_EQ(tk.messages.size(), 1u);
  EXPECT_NE(tk.messages[0].find("(it fails its integrity check"), std::string::npos);
  EXPECT_EQ(commit(), 3001u);
}

// A folder where the journal should be: told at start, nothing renamed, each capture refused.
TEST_F(JournalTest, AJournalThatCannotBeOpenedRefusesEachCaptureWithTheReason) {
  fs::create_directory(path());
  open();
  ASSERT_EQ(tk.messages.size(), 1u);
  EXPECT_EQ(tk.messages[0].rfind("The capture journal TRV4CAP.DB can not be opened (", 0), 0u);
  EXPECT_EQ(std::pair(fs::is_directory(path()), asideFiles().empty()), std::pair(true, true));
  Capture c = reading();
  const std::optional<JournalFailure> why = journal->commit(c);
  ASSERT_TRUE(why);
  EXPECT_EQ(std::tuple(why->code, why->journal, why->retryInS, why->detail.empty(), c.sequence),
            std::tuple(JournalFailureCode::kCannotOpen, "TRV4CAP.DB", 0, false, 0u));
}

// Another connection holds the journal: each try is refused with SQLite's reason, and captures
// in the pause after it at once; the pause doubles up to 30 s. Opened again, it is not checked.
TEST_F(JournalTest, AJournalHeldElsewhereIsTriedAgainAfterPausesThatDoubleUpTo30s) {
  open();
  commit();
  journal = std::make_unique<SqliteJournal>(tk, path(), 0);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  const JournalFailure locked{.code = JournalFailureCode::kCannotWrite,
                              .journal = "TRV4CAP.DB",
                              .detail = "database is locked"};
  for (const int pauseS : {1, 2, 4, 8, 16, 30, 30}) {
    Capture c = reading();
    EXPECT_EQ(journal->commit(c), locked);
    JournalFailure paused = locked;
    paused.retryInS = pauseS;
    EXPECT_EQ(journal->commit(c), paused);
    tk.advance(pauseS * 1000);
  }
  sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_EQ(commit(), 2u);
  EXPECT_EQ(journal->checks(), 1);
}

TEST_F(JournalTest, AMarkThatCanNotBeWrittenRefusesTheCaptureAndStoresNone) {
  fs::create_directory(file(kSequenceMarkFileName));
  open();
  Capture c = reading();
  EXPECT_EQ(journal->commit(c), (JournalFailure{.code = JournalFailureCode::kMarkNotWritten,
                                                .journal = "TRV4CAP.SEQ"}));
  EXPECT_EQ(c.sequence, 0u);
  EXPECT_TRUE(journal->after(0, 10).empty());
  fs::remove(file(kSequenceMarkFileName));
  EXPECT_EQ(commit(), 1u);
}

}  // namespace
}  // namespace trv4::test
