// End-to-end tests in real time: the simulator on a pseudo-terminal, and the real program polling
// it through ./COM1. Each test lasts a few seconds at most.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/e2e/e2e_harness.h"

namespace trv4::e2e {
namespace {

// Opens the simulator's line like a serial port: raw, non-blocking.
int openLine(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fd;
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Reads until an ETX has come (or limitMs passed); returns what came.
std::string readFrame(int fd, int limitMs) {
  std::string got;
  waitFor(
      [&] {
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<size_t>(n));
        return got.find('\x03') != std::string::npos;
      },
      limitMs);
  return got;
}

TEST(SimulatorOnPty, AnswersLogsAndRemovesItsLinkOnExit) {
  TempDir dir;
  Simulator sim(dir, {"--scales", "A-B", "--delay", "5"});
  ASSERT_TRUE(sim.ready());
  int fd = openLine(dir.file("COM1"));
  ASSERT_GE(fd, 0);
  std::string request = statusRequest('B');
  double sent = monotonicSeconds();
  ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  std::string reply = readFrame(fd, 1000);
  double took = monotonicSeconds() - sent;
  ASSERT_EQ(reply.size(), 13u);
  EXPECT_EQ(reply.substr(0, 3),
            "\x02"
            "B?");
  EXPECT_GE(took, 0.004);  // the reply delay
  // A scale that is not on the line stays silent.
  std::string toC = statusRequest('C');
  ASSERT_EQ(write(fd, toC.data(), toC.size()), static_cast<ssize_t>(toC.size()));
  EXPECT_EQ(readFrame(fd, 200), "");
  close(fd);

  auto rx = received(sim.log());
  ASSERT_EQ(rx.size(), 2u);
  EXPECT_EQ(rx[0].bytes, request);
  EXPECT_NEAR(rx[0].at, sent, 0.05);
  EXPECT_TRUE(sim.process().stop(SIGTERM, 2000));
  struct stat st {};
  EXPECT_NE(lstat(dir.file("COM1").c_str(), &st), 0) << "link left behind";
}

TEST(SimulatorOnPty, PacesRepliesAtTheCharacterTimeAndIdlesWithoutCpu) {
  TempDir dir;
  // 1200 baud 7E1: a character takes 8.3 ms, so the 13-character reply takes 108 ms.
  Simulator sim(dir, {"--scales", "A", "--delay", "0", "--baud", "1200", "--format", "7E1"});
  ASSERT_TRUE(sim.ready());
  int fd = openLine(dir.file("COM1"));
  ASSERT_GE(fd, 0);
  std::string request = statusRequest('A');
  double sent = monotonicSeconds();
  ASSERT_EQ(write(fd, request.data(), request.size()), 7);
  std::string reply = readFrame(fd, 2000);
  double took = monotonicSeconds() - sent;
  EXPECT_EQ(reply.size(), 13u);
  // The request's 7 characters and the reply's 13: 20 * 8.33 ms.
  EXPECT_GE(took, 0.160);
  EXPECT_LT(took, 0.400);
  close(fd);

  double cpu0 = cpuSeconds(sim.process().pid());
  timespec second{1, 0};
  nanosleep(&second, nullptr);
  double cpu1 = cpuSeconds(sim.process().pid());
  ASSERT_GE(cpu0, 0);
  EXPECT_LT(cpu1 - cpu0, 0.05) << "the simulator uses CPU while idle";
}

// ---- the program against the simulator ---------------------------------------------------

class ProgramE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(programPath().c_str(), X_OK) != 0)
      GTEST_SKIP() << "program not built at " << programPath()
                   << " (build the trv4 target, or set TRV4_PROGRAM)";
  }

  // Starts the simulator with simArgs, writes TRV4.INI with scan line `scan`, starts the program,
  // lets it run for runMs and returns the requests the scales received.
  std::vector<LogEntry> run(const std::vector<std::string>& simArgs, const std::string& scan,
                            int runMs) {
    sim_ = std::make_unique<Simulator>(dir_, simArgs);
    EXPECT_TRUE(sim_->ready());
    writeFile(dir_.file("TRV4.INI"), iniText(scan));
    program_ = std::make_unique<Process>(programPath(), std::vector<std::string>{}, dir_.path(),
                                         std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"},
                                         "trv4.out");
    timespec pause{runMs / 1000, (runMs % 1000) * 1'000'000L};
    nanosleep(&pause, nullptr);
    EXPECT_TRUE(program_->running()) << readFile(dir_.file("trv4.out"));
    return received(sim_->log());
  }

  // Gaps in ms between consecutive requests, with the address each gap ends at.
  static std::vector<std::pair<char, double>> gaps(const std::vector<LogEntry>& rx) {
    std::vector<std::pair<char, double>> out;
    for (size_t i = 1; i < rx.size(); ++i)
      out.push_back({addressOf(rx[i].bytes), (rx[i].at - rx[i - 1].at) * 1000});
    return out;
  }

  TempDir dir_;
  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<Process> program_;
};

TEST_F(ProgramE2E, PollsTheEnabledScalesInOrderStartingWithAAfterAbout100ms) {
  // Line 8 enables A, C and H; the simulator has A to H.
  auto rx = run({"--scales", "A-H", "--delay", "2", "--static"}, "10100001", 1500);
  ASSERT_GE(rx.size(), 12u);
  EXPECT_EQ(rx[0].bytes, std::string("\x02\x41\x3F\x30\x34\x3C\x03"));
  double firstMs = (rx[0].at - program_->startedAt()) * 1000;
  EXPECT_GE(firstMs, 95) << "the first request must wait for the first scan tick";
  EXPECT_LT(firstMs, 1200) << "start-up took too long";
  const std::string order = "ACH";
  for (size_t i = 0; i < rx.size(); ++i) {
    EXPECT_EQ(rx[i].bytes, statusRequest(order[i % 3])) << "request " << i;
    EXPECT_TRUE(rx[i].valid);
  }
}

TEST_F(ProgramE2E, AnsweredRequestIsFollowedAtOnceUnansweredHoldsForItsTimeout) {
  // B is enabled but not on the line: its request goes unanswered.
  auto rx = run({"--scales", "A,C", "--delay", "2", "--static"}, "111", 1500);
  ASSERT_GE(rx.size(), 9u);
  std::vector<double> afterAnswer, afterSilence;
  for (auto [to, ms] : gaps(rx)) (to == 'C' ? afterSilence : afterAnswer).push_back(ms);
  ASSERT_FALSE(afterAnswer.empty());
  ASSERT_FALSE(afterSilence.empty());
  std::sort(afterAnswer.begin(), afterAnswer.end());
  // Answered (A -> B, C -> A): the next request leaves as soon as the reply is in.
  EXPECT_LT(afterAnswer[afterAnswer.size() / 2], 20) << "median gap after an answer";
  // Unanswered (B -> C): the cycle waits for the status time-out, seen at the next 100 ms tick.
  for (double ms : afterSilence) {
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 200);
  }
  // The order still holds: A, B, C, A, ...
  for (size_t i = 0; i < rx.size(); ++i) EXPECT_EQ(addressOf(rx[i].bytes), "ABC"[i % 3]) << i;
}

TEST_F(ProgramE2E, LineEchoIsDroppedAndPollingGoesOn) {
  auto rx = run({"--scales", "A-H", "--delay", "2", "--echo", "--static"}, "11111111", 1500);
  ASSERT_GE(rx.size(), 24u);
  for (size_t i = 0; i < rx.size(); ++i)
    EXPECT_EQ(rx[i].bytes, statusRequest(static_cast<char>('A' + i % 8))) << i;
  // Every scale answers after its echo, so no request waits for a time-out.
  std::vector<double> g;
  for (auto [to, ms] : gaps(rx)) g.push_back(ms);
  std::sort(g.begin(), g.end());
  EXPECT_LT(g[g.size() * 9 / 10], 30);
}

TEST_F(ProgramE2E, SurvivesTheLineVanishingWithoutSpinning) {
  auto rx = run({"--scales", "A-H", "--delay", "2"}, "11111111", 600);
  ASSERT_FALSE(rx.empty());
  ASSERT_TRUE(sim_->process().stop(SIGKILL, 2000));
  timespec settle{0, 300'000'000};
  nanosleep(&settle, nullptr);
  double cpu0 = cpuSeconds(program_->pid());
  timespec second{1, 0};
  nanosleep(&second, nullptr);
  double cpu1 = cpuSeconds(program_->pid());
  EXPECT_TRUE(program_->running()) << "the program ended: " << readFile(dir_.file("trv4.out"));
  ASSERT_GE(cpu1, 0);
  EXPECT_LT(cpu1 - cpu0, 0.15) << "the program spins after losing its line";
}

TEST_F(ProgramE2E, BabblingScaleNeitherGrowsMemoryNorSpinsTheProgram) {
  // Scale H pours out characters without end and never an ETX: 256 kB a second.
  auto rx = run({"--scales", "A-H", "--delay", "2", "--fault", "stream:H"}, "11111111", 700);
  ASSERT_FALSE(rx.empty());
  long rss0 = residentKb(program_->pid());
  double cpu0 = cpuSeconds(program_->pid());
  timespec pause{2, 0};
  nanosleep(&pause, nullptr);
  long rss1 = residentKb(program_->pid());
  double cpu1 = cpuSeconds(program_->pid());
  EXPECT_TRUE(program_->running()) << readFile(dir_.file("trv4.out"));
  ASSERT_GT(rss0, 0);
  // 512 kB more came in meanwhile; a buffer that kept it all (or copies of it) would show.
  EXPECT_LT(rss1 - rss0, 400) << "resident memory grew from " << rss0 << " to " << rss1 << " kB";
  EXPECT_LT(cpu1 - cpu0, 1.0) << "the program used a whole core on the babble";
}

}  // namespace
}  // namespace trv4::e2e
