// The program end to end with MQTT publishing on: the real program against the simulator on a
// pseudo-terminal and Debian's mosquitto broker, read by a subscriber as a plant's system would.
// Commands and the heartbeat are mqtt_test's; a command over a real line is the dashboard's.
#include <signal.h>

#include <gtest/gtest.h>

#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/scale_model.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::scalesim {
namespace {

using test::has;
using test::MqttBroker;
using test::MqttSubscriber;

TEST(PublishingE2E, WeightsReachThePlantAndAKilledProgramIsOffline) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  const std::string net =
      "[mqtt]\nenabled=true\nhost=127.0.0.1\nport=" + std::to_string(broker.port()) +
      "\nprefix=line1\n";
  Session s({"--scales", "A-C", "--static", "--load", "A=12.5", "--load", "B=-3"}, "111",
            {{"TRV4NET.INI", net}});
  ASSERT_TRUE(s.sim.ready());
  MqttSubscriber plant(broker.port(), "line1/#");
  ASSERT_TRUE(waitFor(
      [&] {
        return plant.last("line1/status") == "online" &&
               has(plant.last("line1/A/weight"), "\"weight\":12.50,") &&
               has(plant.last("line1/B/weight"), "\"weight\":-3.00,");
      },
      20000))
      << "A: " << plant.last("line1/A/weight") << "\n"
      << readFile(s.dir.file("trv4.out"));

  // A program that dies leaves "offline" behind.
  ASSERT_TRUE(s.program.stop(SIGKILL, 2000));
  EXPECT_TRUE(waitFor([&] { return plant.last("line1/status") == "offline"; }, 10000));
  MqttSubscriber late(broker.port(), "line1/#");
  EXPECT_TRUE(waitFor([&] { return late.last("line1/status") == "offline"; }, 5000))
      << "the status is retained";
}

}  // namespace
}  // namespace trv4::scalesim
