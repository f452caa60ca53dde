// Start-up of the program without its windows: the configuration file, the first scan step and
// the Commands menu.
#include <gtest/gtest.h>

#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

// With the usual timings and scales A..H polled, the first request goes out 100 ms after loading;
// the Commands menu queues for the selected address, or all.
TEST(StartupTest, FirstRequestGoesToScaleAOneHundredMillisecondsAfterLoadAndCommandsQueue) {
  AppOnSim on({.addresses = {}, .movingWeights = false, .faults = {}, .setups = {}}, "11111111");
  Application& app = *on.app;
  const LinkState& s = app.state();
  on.tk.advance(99);
  EXPECT_TRUE(on.port.writes.empty());
  on.tk.advance(1);
  ASSERT_EQ(on.port.writes.size(), 1u);
  EXPECT_EQ(on.port.writes[0].bytes, "\x02\x41\x3F\x30\x34\x3C\x03");
  EXPECT_TRUE(on.tk.messages.empty());

  app.displaySettings().SingleScale = "B";
  app.mReset_Click();
  EXPECT_EQ(s.CommandQueue[1], "R");
  app.displaySettings().SingleScale = "@";
  app.mAck_Click();
  EXPECT_EQ(s.CommandQueue[kBroadcastSlot], "\x06");
}

}  // namespace
}  // namespace trv4::test
