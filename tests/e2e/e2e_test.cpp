// The real program against the simulator on a pseudo-terminal, publishing to a test's broker.
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

// CPU seconds a process uses over the next `seconds`.
double cpuOver(pid_t pid, double seconds) {
  double before = cpuSeconds(pid);
  sleepSeconds(seconds);
  return before < 0 ? 1e9 : cpuSeconds(pid) - before;
}

// How long each exchange takes is the virtual-time matrix's to tell; here the order on the line,
// the weights as MQTT publishes them, and the "offline" a killed program leaves behind.
TEST(ProgramE2E, PollsTheMarkedScalesInOrderPublishesTheirWeightsAndDiesOffline) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber plant(broker.port(), "line1/#");
  // A, B, C and H polled; B is not on the line, so its request goes unanswered.
  Session s({"--scales", "A,C,H", "--delay", "2", "--static", "--load", "A=12.5", "--load", "C=-3"},
            "11100001",
            {{"TRV4NET.INI",
              "[mqtt]\nenabled=true\nport=" + std::to_string(broker.port()) + "\nprefix=line1\n"}});
  ASSERT_TRUE(waitFor(
      [&] {
        return received(s.sim.log()).size() >= 16 && plant.last("line1/status") == "online" &&
               has(plant.last("line1/A/weight"), "\"weight\":12.50,") &&
               has(plant.last("line1/C/weight"), "\"weight\":-3.00,");
      },
      30000))
      << plant.last("line1/A/weight") << readFile(s.dir.file("trv4.out"));
  const auto rx = received(s.sim.log());
  for (size_t i = 0; i < rx.size(); ++i)
    EXPECT_EQ(rx[i].bytes, makeFrame("ABCH"[i % 4], "?0")) << i;

  ASSERT_TRUE(s.program.stop(SIGKILL, 2000));
  ASSERT_TRUE(waitFor([&] { return plant.last("line1/status") == "offline"; }, 10000));
  MqttSubscriber late(broker.port(), "line1/status");
  EXPECT_TRUE(waitFor([&] { return late.last("line1/status") == "offline"; }, 5000)) << "retained";
}

TEST(ProgramE2E, ABabblingScaleOrALostLineNeitherGrowsMemoryNorSpinsTheProgram) {
  // Scale H pours out characters without end and never an ETX: 256 kB a second.
  Session s({"--scales", "A-H", "--delay", "2", "--fault", "stream:H"}, "11111111");
  ASSERT_TRUE(waitFor([&] { return received(s.sim.log()).size() >= 9; }, 30000));
  const pid_t pid = s.program.pid();
  const long rss0 = residentKb(pid);
  EXPECT_LT(cpuOver(pid, 2), 1.0) << "the program used a whole core on the babble";
  const long rss1 = residentKb(pid);
  ASSERT_GT(rss0, 0);
#ifndef __SANITIZE_ADDRESS__
  // 512 kB more came in meanwhile; a buffer that kept it all (or copies of it) would show. (The
  // address sanitizer's allocator takes room of its own over the first minute.)
  EXPECT_LT(rss1 - rss0, 400) << "resident memory grew from " << rss0 << " to " << rss1 << " kB";
#endif
  // Then the line vanishes.
  ASSERT_TRUE(s.sim.process().stop(SIGKILL, 2000));
  sleepSeconds(0.3);
  EXPECT_LT(cpuOver(pid, 1), 0.15) << "the program spins after losing its line";
  EXPECT_TRUE(s.program.running()) << "it ended: " << readFile(s.dir.file("trv4.out"));
}

}  // namespace
}  // namespace trv4::scalesim
