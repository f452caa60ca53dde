// The program end to end with MQTT publishing on: the real program against the simulator on a
// pseudo-terminal and Debian's mosquitto broker, read by a subscriber as a plant's system would.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/scale_model.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::scalesim {
namespace {

using test::has;
using test::MqttBroker;
using test::MqttSubscriber;

TEST(PublishingE2E, WeightsReachThePlantACommandReachesTheScaleAndAKilledProgramIsOffline) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  const std::string net =
      "[mqtt]\nenabled=true\nhost=127.0.0.1\nport=" + std::to_string(broker.port()) +
      "\nprefix=line1\nheartbeat_s=1\ncommands=true\n";
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

  // A zero asked for by the plant goes over the line to scale A.
  ASSERT_TRUE(plant.publish("line1/A/command", "Z"));
  auto zeros = [&] {
    const auto rx = received(s.sim.log());
    return std::ranges::count(rx, makeFrame('A', "Z"), &LogEntry::bytes);
  };
  EXPECT_TRUE(waitFor([&] { return zeros() == 1; }, 10000));

  // The heartbeat keeps unchanged weights coming; a program that dies leaves "offline" behind.
  const int before = plant.count("line1/C/weight");
  EXPECT_TRUE(waitFor([&] { return plant.count("line1/C/weight") >= before + 2; }, 10000));
  ASSERT_TRUE(s.program.stop(SIGKILL, 2000));
  EXPECT_TRUE(waitFor([&] { return plant.last("line1/status") == "offline"; }, 10000));
  MqttSubscriber late(broker.port(), "line1/#");
  EXPECT_TRUE(waitFor([&] { return late.last("line1/status") == "offline"; }, 5000))
      << "the status is retained";
}

}  // namespace
}  // namespace trv4::scalesim
