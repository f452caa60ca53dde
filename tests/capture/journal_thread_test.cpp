// The journal on its own thread, on real files in a scratch folder: the desk's thread never waits
// for it, old delivered captures go, and reads are answered on the thread that asked.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/journal_thread.h"
#include "tests/support/desk_on_monitor.h"
#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::test {
namespace {

constexpr int64_t kDayMs = 24LL * 3600 * 1000;

// The longest time between two ticks of a 10 ms timer on this thread while it runs.
struct TickGaps {
  TickGaps() {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout,
                     [this] { longest = std::max(longest, clock.restart()); });
    clock.start();
    timer.start();
  }
  QTimer timer;
  QElapsedTimer clock;
  qint64 longest = 0;
};

// Another program's connection to the journal, holding it for writing until closed.
struct Holder {
  explicit Holder(const std::string& path) {
    sqlite3_open(path.c_str(), &db);
    held = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~Holder() { sqlite3_close_v2(db); }
  sqlite3* db = nullptr;
  bool held = false;
};

struct JournalThreadTest : ::testing::Test {
  std::string path() const { return dir.file(kCaptureJournalFileName); }
  // A capture of scale A through the desk, waited for on the Qt event loop.
  CaptureOutcome take(DeskOnMonitor& rig) {
    CaptureRequest r;
    r.stableAnswers = 1;
    std::optional<CaptureOutcome> got;
    rig.desk.capture(r, [&](const CaptureOutcome& o) { got = o; });
    rig.settled(0, "012.50");
    rig.settle();
    EXPECT_TRUE(pumpUntil([&] { return got.has_value(); }, 10000));
    return got.value_or(CaptureOutcome{});
  }

  scalesim::TempDir dir;
  VirtualToolkit messages;
};

TEST_F(JournalThreadTest, AJournalHeldElsewhereNeverStopsTheDesksThread) {
  Capture made;
  ASSERT_EQ(SqliteJournal(messages, path()).commit(made), std::nullopt);
  JournalThread journal(messages, path(), {.busyWaitMs = 1500});
  DeskOnMonitor rig(journal);
  for (const bool releasedInTime : {true, false}) {
    SCOPED_TRACE(releasedInTime ? "released within the busy wait" : "held past the busy wait");
    Holder holder(path());
    ASSERT_TRUE(holder.held);
    if (releasedInTime)
      QTimer::singleShot(300, [&holder] { sqlite3_close_v2(std::exchange(holder.db, nullptr)); });
    TickGaps gaps;
    const CaptureOutcome o = take(rig);
    EXPECT_LT(gaps.longest, 500) << "the desk's thread waited for the journal";
    if (releasedInTime)
      EXPECT_EQ(o.capture ? o.capture->sequence : 0, 2u) << o.message;
    else
      EXPECT_EQ(o.journalFailure, (JournalFailure{.code = JournalFailureCode::kCannotWrite,
                                                  .journal = "TRV4CAP.DB",
                                                  .detail = "database is locked"}));
  }
  EXPECT_TRUE(messages.messages.empty());
}

// keep_days: delivered captures older than that go at opening and at every round after; those
// waiting for delivery stay, and numbers go on above the highest ever used.
TEST_F(JournalThreadTest, OldDeliveredCapturesGoTheirNumbersNeverComeAgainAndReadsAnswerTheAsker) {
  {
    VirtualToolkit tk;
    SqliteJournal j(tk, path());
    // 1 and 4 old and delivered, 2 old and waiting, 3 recent and delivered.
    for (const auto& [ageDays, delivered] :
         {std::pair{40, true}, {40, false}, {1, true}, {31, true}}) {
      Capture c{.text = "1.00 kg", .unit = "kg", .requestedBy = "test"};
      c.utcMs = QDateTime::currentMSecsSinceEpoch() - ageDays * kDayMs;
      ASSERT_EQ(j.commit(c), std::nullopt);
      if (delivered) j.markDelivered(c.sequence);
    }
  }
  JournalThread journal(messages, path(), {.keepDays = 30, .pruneMs = 50});
  DeskOnMonitor rig(journal);
  const auto numbers = [&] {
    std::vector<uint64_t> out;
    for (const Capture& c : journal.newest(10)) out.push_back(c.sequence);
    return out;
  };
  ASSERT_TRUE(pumpUntil([&] { return !numbers().empty(); }, 5000));
  EXPECT_EQ(numbers(), (std::vector<uint64_t>{3, 2}));

  // Delivered now: the next round removes it.
  rig.desk.markDelivered(2);
  ASSERT_TRUE(pumpUntil([&] { return numbers() == std::vector<uint64_t>{3}; }, 5000));
  const CaptureOutcome o = take(rig);
  ASSERT_TRUE(o.capture) << o.message;
  EXPECT_EQ(o.capture->sequence, 5u) << "4 was used before it was removed";

  // HTTP reads from a thread of its own: the answer comes on that thread, never within the call.
  QThread services;
  QObject asker;
  asker.moveToThread(&services);
  services.start();
  std::atomic<bool> inCall = false, answeredThere = false, done = false;
  std::vector<uint64_t> read;
  QMetaObject::invokeMethod(&asker, [&] {
    inCall = true;
    rig.desk.readAfter(0, 10, [&](std::vector<Capture> rows) {
      answeredThere = !inCall && QThread::currentThread() == &services;
      for (const Capture& c : rows) read.push_back(c.sequence);
      done = true;
    });
    inCall = false;
  });
  ASSERT_TRUE(pumpUntil([&] { return done.load(); }, 5000));
  services.quit();
  services.wait();
  EXPECT_TRUE(answeredThere);
  EXPECT_EQ(read, (std::vector<uint64_t>{3, 5}));
}

}  // namespace
}  // namespace trv4::test
