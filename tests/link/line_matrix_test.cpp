// Every whole, timely reply is taken at once and filed under the scale that sent it, whatever the
// line does: rates from 1200 to 19200 baud, fixed and varying turnaround, the line's echo, NAKs,
// noise, cut replies, silent scales, double frames and a reply after its time-out. Virtual time
// against the simulated scales, with the program's default timings.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "link/link_stats.h"
#include "tests/support/link_fixture.h"
#include "tests/support/sim_scales.h"
#include "tools/scalesim/reply_tally.h"

namespace trv4::test {
namespace {

struct LineCase {
  const char* name;
  int baud;  // 0: bytes take no time on the line
  bool echo = false;
  int64_t jitterUs = 0;
  std::vector<const char*> faults = {};
  std::map<char, int64_t> lateUs = {};  // scales that answer this long after a request
  const char* scales = "A-D";           // on the line; A to D are polled
};

const LineCase kCases[] = {
    {"instant replies", 0},
    {"1200 baud", 1200},
    {"2400 baud", 2400},
    {"9600 baud", 9600},
    {"19200 baud", 19200},
    {"9600, turnaround 2 to 40 ms", 9600, false, 38'000},
    {"9600, echo", 9600, true},
    {"9600, a NAK for every third status", 9600, false, 0, {"nak@0.33"}},
    {"9600, echo, NAKs and noise before replies", 9600, true, 0, {"nak@0.25", "noise@0.2"}},
    {"9600, replies cut half-way", 9600, false, 0, {"cut@0.3"}},
    {"9600, a silent scale", 9600, false, 0, {"silence:C"}},
    {"9600, double frames", 9600, false, 0, {"double@0.3"}},
    {"9600, A late, B missing", 9600, false, 0, {}, {{'A', 130'000}}, "A,C,D"},
    {"19200, A late by a little", 19200, false, 0, {}, {{'A', 56'000}}},
};

TEST(LineMatrix, EveryTimelyReplyIsTakenAtOnceAndFiledUnderItsSender) {
  for (const LineCase& c : kCases) {
    SCOPED_TRACE(c.name);
    LinkRig r("ABCD");
    r.port.recordLine = true;
    if (c.baud) {
      ASSERT_FALSE(r.port.setSettings(std::to_string(c.baud) + ",E,7,1"));
    }
    LinkStats stats(r.tk);
    r.link.addObserver(stats);

    scalesim::NetworkOptions options;
    std::string error;
    options.addresses = scalesim::parseAddresses(c.scales, &error);
    ASSERT_FALSE(options.addresses.empty()) << error;
    options.baud = c.baud;
    options.format = "7E1";
    options.echo = c.echo;
    options.replyJitterUs = c.jitterUs;
    options.movingWeights = false;
    for (const char* f : c.faults) options.faults.push_back(*scalesim::parseFault(f, &error));
    // Each scale weighs its own number of kilograms, so a weight tells who sent it.
    for (char a : std::string("ABCD")) options.setups[a].load = a - 'A' + 1;
    for (auto [a, us] : c.lateUs) options.setups[a].replyDelayUs = us;
    SimScales scales(r.tk, r.port, options);

    r.tk.advance(6000);

    const scalesim::ReplyTally tally = scalesim::tallyReplies(r.port.line, {.atOnceMs = 0});
    EXPECT_GT(tally.timely, 20) << tally.exchanges << " exchanges";
    EXPECT_EQ(tally.lost(), 0) << "of " << tally.timely << " timely replies";
    for (const auto& [scale, payload] : r.weights) {
      ASSERT_GE(payload.size(), 6u);
      EXPECT_DOUBLE_EQ(std::stod(payload.substr(payload.size() - 6)), scale + 1)
          << "a weight shown for " << scaleAddress(scale);
    }
    for (char a : std::string("ABCD")) {
      const bool present = options.addresses.count(a) > 0;
      const ScaleCounters& counts = stats.scale(a - 'A');
      if (!present) {
        EXPECT_EQ(r.state.StatusReply[a - 'A'], "");
        EXPECT_EQ(r.state.CommandReply[a - 'A'], "");
        EXPECT_EQ(counts.replies, 0u);
        // A's late replies come while a missing scale is asked: counted, filed nowhere.
        if (!c.lateUs.empty()) {
          EXPECT_GT(counts.wrongAddress, 0u);
        }
      } else if (c.lateUs.empty() && c.faults != std::vector<const char*>{"double@0.3"}) {
        // Only a late reply or a double frame's second half reaches another scale's exchange.
        EXPECT_EQ(counts.wrongAddress, 0u) << a;
      }
    }
  }
}

}  // namespace
}  // namespace trv4::test
