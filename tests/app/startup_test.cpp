// Start-up without windows, and the commands it sends: the menu's, the plant's through the gate.
#include <gtest/gtest.h>

#include <optional>

#include "app/remote_command_gate.h"
#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

// With the usual timings the first request goes to scale A 100 ms after loading. The menu queues
// for the selected address; HTTP hands the gate a scale's index, and scale A's (0) leaves as A's
// own frame, not as everyone's. While a broadcast waits, no other command is taken.
TEST(StartupTest, FirstRequestAfter100MsThenTheMenusAndThePlantsCommandsReachTheirScales) {
  AppOnSim on(fourScales(), "1111");
  on.tk.advance(99);
  EXPECT_TRUE(on.port.writes.empty());
  on.tk.advance(1);
  ASSERT_EQ(on.port.writes.size(), 1u);
  EXPECT_EQ(on.port.writes[0].bytes.substr(0, 3), "\x02\x41\x3F");  // scale A's status request
  EXPECT_TRUE(on.tk.messages.empty());

  RemoteCommandGate gate(*on.app);
  std::vector<std::optional<std::string>> answers;
  const auto done = [&](const std::optional<std::string>& refused) { answers.push_back(refused); };
  on.app->displaySettings().SingleScale = "B";
  on.app->mReset_Click();
  gate.queue(0, 'Z', done);
  on.tk.advance(1000);
  on.app->displaySettings().SingleScale = "@";
  on.app->mAck_Click();
  gate.queue(1, 'G', done);
  gate.queue(-1, 'T', done);
  on.tk.advance(1000);
  EXPECT_EQ(answers, (std::vector<std::optional<std::string>>{
                         std::nullopt, "the scale has a command waiting to be sent",
                         "a command is waiting to be sent"}));
  EXPECT_EQ(on.commandsSent(), (std::vector<std::string>{"BR", "AZ", "@\x06"}));
}

}  // namespace
}  // namespace trv4::test
