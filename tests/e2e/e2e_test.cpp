// The real program against the simulator on a pseudo-terminal.
#include <signal.h>

#include <gtest/gtest.h>

#include "tools/scalesim/scale_model.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::scalesim {
namespace {

// CPU seconds a process uses over the next `seconds`.
double cpuOver(pid_t pid, double seconds) {
  double before = cpuSeconds(pid);
  sleepSeconds(seconds);
  return before < 0 ? 1e9 : cpuSeconds(pid) - before;
}

// How long each exchange takes is the virtual-time matrix's to tell; here the order on the line.
TEST(ProgramE2E, PollsTheMarkedScalesInOrderAndGoesOnPastASilentOne) {
  // A, B, C and H polled; B is not on the line, so its request goes unanswered.
  Session s({"--scales", "A,C,H", "--delay", "2", "--static"}, "11100001");
  ASSERT_TRUE(waitFor([&] { return received(s.sim.log()).size() >= 16; }, 30000));
  EXPECT_TRUE(s.program.running()) << readFile(s.dir.file("trv4.out"));
  const auto rx = received(s.sim.log());
  for (size_t i = 0; i < rx.size(); ++i)
    EXPECT_EQ(rx[i].bytes, makeFrame("ABCH"[i % 4], "?0")) << i;
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
