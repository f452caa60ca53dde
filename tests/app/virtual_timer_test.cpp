// The timers every test relies on keep the Enabled/Interval rules the program is written for.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

TEST(VirtualTimer, TicksEveryIntervalCountedFromEnablingOrResettingTheInterval) {
  VirtualToolkit tk;
  std::vector<int64_t> ticks;
  auto timer = tk.createTimer([&] { ticks.push_back(tk.now()); });
  timer->setInterval(100);
  tk.advance(500);
  EXPECT_TRUE(ticks.empty()) << "a disabled timer never ticks";

  timer->setEnabled(true);  // at 500
  tk.advance(250);
  EXPECT_EQ(ticks, (std::vector<int64_t>{600, 700}));

  timer->setEnabled(true);  // already enabled: the count goes on
  timer->setInterval(100);  // at 750: counted anew
  tk.advance(200);
  EXPECT_EQ(ticks, (std::vector<int64_t>{600, 700, 850, 950}));

  timer->setInterval(0);
  tk.advance(1000);
  EXPECT_EQ(ticks.size(), 4u) << "an interval of 0 never ticks";
}

TEST(VirtualTimer, RestartFromItsOwnTickAndStopFromAnother) {
  VirtualToolkit tk;
  std::vector<int64_t> ticks;
  std::unique_ptr<Timer> other;
  auto timer = tk.createTimer([&] {
    ticks.push_back(tk.now());
    if (ticks.size() == 1) other->setEnabled(false);
  });
  int otherTicks = 0;
  other = tk.createTimer([&] { ++otherTicks; });
  other->restart(100);
  timer->restart(100);  // due at the same time, armed later: runs after `other`
  tk.advance(100);
  EXPECT_EQ(otherTicks, 1);
  timer->restart(30);
  tk.advance(100);
  EXPECT_EQ(ticks, (std::vector<int64_t>{100, 130, 160, 190}));
  EXPECT_EQ(otherTicks, 1);
}

TEST(VirtualToolkit, YieldRunsWhatIsDueOrWaitsForTheNextEvent) {
  VirtualToolkit tk;
  int ran = 0;
  tk.schedule(40, [&] { ++ran; });
  tk.yield();
  EXPECT_EQ(tk.now(), 40);
  EXPECT_EQ(ran, 1);
  tk.yield();  // nothing left: returns at once
  EXPECT_EQ(tk.now(), 40);
}

}  // namespace
}  // namespace trv4::test
