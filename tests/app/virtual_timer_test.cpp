// The virtual timers every test relies on keep the Enabled/Interval rules of the program's timers.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

TEST(VirtualTimer, TicksEveryIntervalCountedFromEnablingOrSettingTheInterval) {
  VirtualToolkit tk;
  std::vector<int64_t> ticks;
  auto timer = tk.createTimer([&] { ticks.push_back(tk.now()); });
  timer->setInterval(100);
  tk.advance(500);
  EXPECT_TRUE(ticks.empty()) << "a disabled timer never ticks";
  timer->setEnabled(true);  // at 500
  tk.advance(250);
  timer->setEnabled(true);  // at 750, already enabled: the count goes on
  tk.advance(100);
  timer->setInterval(100);  // at 850: counted anew
  tk.advance(150);
  EXPECT_EQ(ticks, (std::vector<int64_t>{600, 700, 800, 950}));
  timer->setInterval(0);
  tk.advance(1000);
  EXPECT_EQ(ticks.size(), 4u) << "an interval of 0 never ticks";
}

}  // namespace
}  // namespace trv4::test
