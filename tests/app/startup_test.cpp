// Start-up of the program without its windows: the configuration file, the first scan step, the
// Commands menu and the plant's commands through the gate HTTP and MQTT share.
#include <gtest/gtest.h>

#include <optional>

#include "app/remote_command_gate.h"
#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

using Texts = std::vector<std::string>;

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

// HTTP hands the gate a scale's index: scale A's (0) leaves as A's own frame, not as everyone's,
// and while a broadcast waits no scale's command is taken.
TEST(RemoteCommandGate, ACommandForScaleAReachesOnlyAAndNoneIsTakenWhileABroadcastWaits) {
  AppOnSim on(fourScales(), "1111");
  on.tk.advance(1000);
  RemoteCommandGate gate(*on.app);
  std::vector<std::optional<std::string>> answers;
  const auto done = [&](const std::optional<std::string>& refused) { answers.push_back(refused); };
  gate.queue(0, 'Z', done);
  on.tk.advance(1000);
  gate.queue(-1, 'T', done);
  gate.queue(1, 'G', done);
  on.tk.advance(1000);
  EXPECT_EQ(answers,
            (std::vector<std::optional<std::string>>{
                std::nullopt, std::nullopt, "the scale has a command waiting to be sent"}));
  EXPECT_EQ(on.commandsSent(), (Texts{"AZ", "@T"}));
}

}  // namespace
}  // namespace trv4::test
