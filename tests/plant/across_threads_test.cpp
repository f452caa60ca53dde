// Captures asked on the plant services' thread and taken on the windows' thread: those asked for
// a scale while its capture waits join it there, and do not cross one by one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <mutex>

#include "plant/across_threads.h"
#include "tests/support/fake_capture_desk.h"
#include "tests/support/http_client.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

struct AcrossThreadsTest : ::testing::Test {
  // Asks for a capture of scale by on the services thread; its outcome lands in outcomes.
  void ask(int scale, const std::string& by) {
    services.post([this, scale, by] {
      CaptureRequest r;
      r.scale = scale;
      r.requestedBy = by;
      across.capture(r, [this, by](const CaptureOutcome& o) {
        const std::lock_guard lock(mutex);
        outcomes.emplace_back(by, o.capture ? o.capture->sequence : 0);
      });
    });
  }
  std::size_t told() {
    const std::lock_guard lock(mutex);
    return outcomes.size();
  }
  bool untilAsked(std::size_t n) {
    return runUntil([&] { return desk.asked.size() == n; });
  }

  VirtualToolkit tk;
  FakeCaptureDesk desk;
  ServicesThread services{tk};
  DeskAcrossThreads across{desk, services};
  std::mutex mutex;
  std::vector<std::pair<std::string, uint64_t>> outcomes;
};

// A capture asked before the outcome it would join crosses back waits for replies of its own, and
// is then joined by the next of its scale, never of another.
TEST_F(AcrossThreadsTest, ACaptureJoinsOnlyAWaitingCaptureOfItsOwnScale) {
  ask(0, "first");
  ASSERT_TRUE(untilAsked(1));
  // The services thread is held while the outcome is reached, so the next capture is asked there
  // before the outcome is told there.
  std::mutex hold;
  hold.lock();
  services.post([&hold] { const std::lock_guard wait(hold); });
  ask(0, "second");
  const Capture first = desk.commitNext("12.50 kg", 1250, 2);
  hold.unlock();
  ASSERT_TRUE(untilAsked(2));
  ASSERT_TRUE(runUntil([&] { return told() == 1; }));

  ask(0, "third");
  ask(1, "other scale");
  ASSERT_TRUE(untilAsked(3));
  const Capture second = desk.commitNext("12.60 kg", 1260, 2);
  ASSERT_TRUE(runUntil([&] { return told() == 3; }));
  ask(0, "after");  // once the outcome was told: a capture of its own
  ASSERT_TRUE(untilAsked(4));
  std::vector<std::string> asked;
  for (const CaptureRequest& r : desk.asked) asked.push_back(r.requestedBy);
  EXPECT_EQ(asked, (std::vector<std::string>{"first", "second", "other scale", "after"}));
  const std::lock_guard lock(mutex);
  EXPECT_EQ(outcomes, (std::vector<std::pair<std::string, uint64_t>>{{"first", first.sequence},
                                                                     {"second", second.sequence},
                                                                     {"third", second.sequence}}));
}

}  // namespace
}  // namespace trv4::test
