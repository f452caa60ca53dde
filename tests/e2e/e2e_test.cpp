// End-to-end tests in real time: the simulator on a pseudo-terminal and the program polling it.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

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

// The program against the simulator: runs both until the simulator has received `requests`
// frames (a loaded machine may take long), returns them. Timing checks below hold to the median
// of the gaps: a busy machine delays single steps.
class ProgramE2E : public ::testing::Test {
 protected:
  std::vector<LogEntry> run(const std::vector<std::string>& simArgs, const std::string& scan,
                            size_t requests) {
    s_ = std::make_unique<Session>(simArgs, scan);
    EXPECT_TRUE(waitFor([&] { return received(s_->sim.log()).size() >= requests; }, 30000));
    EXPECT_TRUE(s_->program.running()) << readFile(s_->dir.file("trv4.out"));
    return received(s_->sim.log());
  }
  std::unique_ptr<Session> s_;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 1e9 : v[v.size() / 2];
}

TEST_F(ProgramE2E, PollsTheEnabledScalesInOrderAndOnlyASilentOneHoldsForItsTimeout) {
  // A, B, C and H polled; B is not on the line, so its request goes unanswered.
  auto rx = run({"--scales", "A,C,H", "--delay", "2", "--static"}, "11100001", 16);
  ASSERT_GE(rx.size(), 16u);
  for (size_t i = 0; i < rx.size(); ++i)
    EXPECT_EQ(rx[i].bytes, makeFrame("ABCH"[i % 4], "?0")) << i;
  // The gaps in ms before B, C, H, A, B, ...: the one before C follows B's silence.
  std::vector<double> afterAnswer, afterSilence;
  for (size_t i = 1; i < rx.size(); ++i)
    (i % 4 == 2 ? afterSilence : afterAnswer).push_back((rx[i].at - rx[i - 1].at) * 1000);
  EXPECT_LT(median(afterAnswer), 60) << "an answered request is followed at once";
  // The cycle waits for the status time-out, seen at the next 100 ms tick. The gaps are taken
  // where the simulator reads the requests, so a late read shortens one as well.
  EXPECT_GE(median(afterSilence), 90);
  EXPECT_LT(median(afterSilence), 200);
}

TEST_F(ProgramE2E, ABabblingScaleOrALostLineNeitherGrowsMemoryNorSpinsTheProgram) {
  // Scale H pours out characters without end and never an ETX: 256 kB a second.
  ASSERT_FALSE(
      run({"--scales", "A-H", "--delay", "2", "--fault", "stream:H"}, "11111111", 9).empty());
  const pid_t pid = s_->program.pid();
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
  ASSERT_TRUE(s_->sim.process().stop(SIGKILL, 2000));
  sleepSeconds(0.3);
  EXPECT_LT(cpuOver(pid, 1), 0.15) << "the program spins after losing its line";
  EXPECT_TRUE(s_->program.running()) << "it ended: " << readFile(s_->dir.file("trv4.out"));
}

}  // namespace
}  // namespace trv4::scalesim
