// A port whose device goes away and comes back, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "app/application.h"
#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

const std::string kLost =
    "Port 1 was disconnected. The program opens it again as soon as its device is back.";

class ReconnectTest : public ::testing::Test, public AppOnSim {
 protected:
  ReconnectTest()
      : AppOnSim({.addresses = {'A', 'B'}, .movingWeights = false, .faults = {}, .setups = {}},
                 "11") {
    tk.advance(1000);
  }
  int pollsSince(int64_t ms) const {
    return static_cast<int>(
        std::ranges::count_if(sim.received(), [&](const auto& f) { return f.atUs >= ms * 1000; }));
  }
};

// About one try a second, told once, nothing sent meanwhile; a loss while a reply is read too.
TEST_F(ReconnectTest, PollingResumesByItselfWhenTheDeviceIsBack) {
  const std::string settings = port.settings();
  port.unplug();
  const int tries = port.openTries;
  const int64_t goneAt = tk.now();
  tk.advance(10'000);
  EXPECT_NEAR(port.openTries - tries, 10, 1);
  EXPECT_EQ(std::tuple(tk.messages.size(), pollsSince(goneAt + 1), app->reconnect().waiting()),
            std::tuple(1u, 0, true));
  port.plugIn();
  const int64_t backAt = tk.now();
  tk.advance(1500);
  EXPECT_EQ(std::tuple(port.portOpen(), app->reconnect().waiting(), port.settings()),
            std::tuple(true, false, settings));
  EXPECT_GT(pollsSince(backAt), 5);
  port.unplugAfterInput = true;
  tk.advance(500);
  ASSERT_FALSE(port.portOpen());
  EXPECT_EQ(tk.messages, (std::vector<std::string>{kLost, kLost}));
  port.plugIn();
  const int64_t againAt = tk.now();
  tk.advance(2000);
  EXPECT_GT(pollsSince(againAt), 5);
}

TEST_F(ReconnectTest, ADeviceBackWithOtherCapabilitiesIsToldOnceAndSettingsOkEndsTheTries) {
  port.unplug();
  port.refusedSettings.insert(port.settings());
  port.plugIn();
  const int tries = port.openTries;
  tk.advance(5000);
  EXPECT_EQ(tk.messages, (std::vector<std::string>{
                             kLost, "Port 1 is back but refuses the settings 9600,N,8,1 (" +
                                        portErrorText({.code = PortFailureCode::kSettingsRefused,
                                                       .settings = "9600,N,8,1"}) +
                                        "). The program keeps trying."}));
  EXPECT_LE(port.openTries - tries, 6);  // tried no faster, and in vain
  port.refusedSettings.clear();
  ASSERT_FALSE(port.setPortOpen(true));
  tk.advance(1500);
  EXPECT_EQ(std::tuple(app->reconnect().waiting(), port.portOpen(), tk.messages.size()),
            std::tuple(false, true, 2u));
}

}  // namespace
}  // namespace trv4::test
