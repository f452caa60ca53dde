// Find Scales in virtual time: scattered addresses, one at another rate, noise on the line.
#include "service/scale_finder.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

using scalesim::Fault;
using scalesim::FaultKind;

scalesim::NetworkOptions scatteredScales() {
  scalesim::NetworkOptions o;
  o.addresses = {'A', 'C', 'K', 'P', '^'};
  o.baud = 9600;
  o.format = "8N1";
  o.movingWeights = false;
  o.faults = {Fault{FaultKind::kNoise, {'C'}, 1.0}, Fault{FaultKind::kBadCheck, {'P'}, 1.0}};
  o.setups['K'].baud = 19200;
  o.setups['K'].format = "8N1";
  return o;
}

class FinderTest : public ::testing::Test, public AppOnSim {
 protected:
  FinderTest() : AppOnSim(scatteredScales(), "11110000") {
    tk.advance(500);
    finder = std::make_unique<ScaleFinder>(*app->link(), port, tk, app->state(), app->monitor(),
                                           app->displaySettings());
    finder->onFinished = [this] { finishedAt = tk.now(); };
  }
  std::string line8() {
    std::ifstream in(ini, std::ios::binary);
    std::string line;
    for (int i = 0; i < 8; ++i) std::getline(in, line);
    return line.substr(1, line.find(' ') - 1);
  }
  std::string answered() {
    std::string out;
    for (int i = 0; i < kMaxScales; ++i)
      if (finder->found()[i].answered) out += scaleAddress(i);
    return out;
  }
  // Requests the scan cycle sent after the search ended.
  std::size_t pollsAfter(int64_t at) {
    std::size_t n = 0;
    for (const auto& w : port.writes) n += w.at > at && w.bytes.substr(2, 2) == "?0";
    return n;
  }

  std::unique_ptr<ScaleFinder> finder;
  int64_t finishedAt = -1;
};

TEST_F(FinderTest, FindsTheScalesAtEveryRateThenPutsTheLineBackAndPollsAgainAlsoWhenCancelled) {
  // At the port's own settings: thirty addresses within about 2 s at 9600 baud.
  const int64_t start = tk.now();
  ASSERT_EQ(finder->start(false), "");
  // A late reply of A while B is asked is no answer of B's.
  port.onWrite = [this, toScales = port.onWrite](const std::string& bytes) {
    toScales(bytes);
    if (bytes == scalesim::makeFrame('B', "?0"))
      port.deliver(scalesim::makeFrame('A', "?0 12.50"), 5);
  };
  tk.advance(2100);
  ASSERT_FALSE(finder->running());
  EXPECT_LE(finishedAt - start, 2000);
  EXPECT_EQ(answered(), "AC^");  // C behind its noise; K listens at another rate
  // A silent address is given 63 ms at 9600 baud: 21 characters, half their time again, 30 ms.
  const auto askedAt = [&](char address) {
    for (const auto& w : port.writes)
      if (w.at >= start && w.bytes == scalesim::makeFrame(address, "?0")) return w.at;
    return int64_t{-1};
  };
  EXPECT_EQ(askedAt('F') - askedAt('E'), 63);
  // P's answers are garbled: shown as such.
  EXPECT_EQ(finder->found()[15].shown, "bad block check");
  tk.advance(1000);
  EXPECT_GT(pollsAfter(finishedAt), 3u);

  // At every rate the dialog offers, in 7E1 and 8N1.
  ASSERT_EQ(finder->start(true), "");
  EXPECT_EQ(finder->stepsTotal(), 18 * kMaxScales);
  ASSERT_TRUE(tk.runUntil([&] { return !finder->running(); }, 3600 * 1000));
  EXPECT_EQ(answered(), "ACK^");
  EXPECT_EQ(
      std::pair(finder->found()[10].settings, finder->found()[0].settings),
      std::pair(std::vector<std::string>{"19200,N,8,1"}, std::vector<std::string>{"9600,N,8,1"}));
  EXPECT_EQ(std::pair(port.settings(), finder->restoreError().has_value()),
            std::pair(std::string("9600,N,8,1"), false));
  EXPECT_EQ(line8(), "11110000");

  // "Poll these" polls exactly what answered and writes line 8; "Undo" puts the old set back.
  ASSERT_TRUE(finder->pollFound());
  EXPECT_EQ(line8(), "101000000010000000000000000001");
  EXPECT_EQ(
      std::pair(app->monitor().panel(1).addressEnabled, app->monitor().panel(10).addressEnabled),
      std::pair(false, true));
  ASSERT_TRUE(finder->undo());
  EXPECT_EQ(line8(), "111100000000000000000000000000");
  EXPECT_FALSE(finder->canUndo());

  // Cancelled half-way: the line is put back, no set changes.
  finishedAt = -1;
  ASSERT_EQ(finder->start(true), "");
  EXPECT_EQ(finder->start(true), "A search is running");
  ASSERT_TRUE(tk.runUntil([&] { return finder->stepsDone() >= 9 * kMaxScales; }, 3600 * 1000));
  EXPECT_NE(port.settings(), "9600,N,8,1");
  finder->cancel();
  EXPECT_EQ(
      std::tuple(finder->running(), finishedAt >= 0, port.settings(), app->link()->suspended()),
      std::tuple(false, true, "9600,N,8,1", false));
  EXPECT_EQ(line8(), "111100000000000000000000000000");
  tk.advance(1000);
  EXPECT_GT(pollsAfter(finishedAt), 3u);

  // A closed port is refused with a reason.
  port.setPortOpen(false);
  EXPECT_EQ(finder->start(false), "The port is not open");
}

}  // namespace
}  // namespace trv4::test
