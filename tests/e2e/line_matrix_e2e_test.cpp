// The line matrix end to end: the program in this process against trv4-scalesim on a
// pseudo-terminal with real character times, at the configuration file's usual time-outs. Every
// whole, timely reply on the line must be filed, and no weight may show under a scale that did
// not send it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/line_observer.h"
#include "tests/support/program_driver.h"
#include "tools/scalesim/reply_tally.h"

namespace trv4::e2e {
namespace {

using scalesim::LogEntry;

// Each request as the program wrote it, on the clock of the simulator's log.
struct Requests : LineObserver {
  void sent(int, bool, std::string_view frame) override {
    at.push_back({scalesim::monotonicSeconds() * 1000, true, std::string(frame)});
  }
  void received(int, RxKind, std::string_view) override {}
  void timedOut(int, std::string_view) override {}
  std::vector<scalesim::LineEvent> at;
};

struct LineCase {
  const char* name;
  int baud;                       // 0: no character times
  std::vector<std::string> args;  // more simulator options
  const char* scales = "A-D";     // on the line; A to D are polled (B missing: A,C,D)
  int exchanges = 120;            // requests to wait for
};

TEST(LineMatrixE2E, EveryTimelyReplyIsFiledUnderItsSender) {
  const LineCase cases[] = {
      {"no character times", 0, {}, "A-D", 400},
      {"1200 baud", 1200, {}, "A-D", 25},
      {"2400 baud", 2400, {}, "A-D", 40},
      {"9600 baud, turnaround 2 to 40 ms", 9600, {"--jitter", "38"}},
      {"9600 baud, echo, NAKs and noise",
       9600,
       {"--echo", "--fault", "nak@0.3", "--fault", "noise@0.2"}},
      {"19200 baud, cut and double frames, C silent",
       19200,
       {"--fault", "cut@0.2", "--fault", "double@0.2", "--fault", "silence:C"}},
      {"9600 baud, A late, B missing", 9600, {"--reply-delay", "A=130"}, "A,C,D", 60},
      {"9600 baud in bursts of 16", 9600, {"--burst", "16"}},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--scales", c.scales, "--static", "--load", "A=1",
                                     "--load",   "C=3",    "--load",   "D=4"};
    const bool missingB = std::string(c.scales) == "A,C,D";
    if (!missingB) args.insert(args.end(), {"--load", "B=2"});
    if (c.baud) args.insert(args.end(), {"--baud", std::to_string(c.baud), "--format", "8N1"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string settings = std::to_string(c.baud ? c.baud : 9600) + ",N,8,1";
    Requests written;
    InProcessSession s(args, "1111", InProcessSession::ReplyTimeouts::kDefault, settings);
    ASSERT_EQ(s.failure(), "");
    s.program.app().link()->addObserver(written);

    auto requests = [&] { return scalesim::received(s.sim.log()).size(); };
    EXPECT_TRUE(runEventsUntil([&] { return requests() >= std::size_t(c.exchanges); }, 30000));
    // The line's replies and the program's own count of the replies it filed, read together (the
    // program runs on this thread and takes nothing meanwhile). The program's time-outs run from
    // when it wrote a request, however late a loaded machine let the simulator read it: the tally
    // takes that time.
    std::vector<scalesim::LineEvent> line = scalesim::lineEvents(s.sim.log());
    std::size_t k = 0;
    for (scalesim::LineEvent& e : line) {
      if (!e.request) continue;
      ASSERT_LT(k, written.at.size());
      ASSERT_EQ(e.bytes, written.at[k].bytes) << "request " << k;
      e.atMs = written.at[k++].atMs;
    }
    s.program.app().link()->removeObserver(written);
    const scalesim::ReplyTally tally = scalesim::tallyReplies(line);
    Application& app = s.program.app();
    uint32_t filed = 0;
    for (int i = 0; i < 4; ++i) filed += app.linkStats().scale(i).replies;
    EXPECT_GT(tally.timely, c.exchanges / 3) << tally.exchanges << " exchanges";
    // Every whole, timely reply on the line was filed. How soon the next request follows is
    // the benchmark's and the virtual-time matrix's to tell: here the machine may be loaded.
    EXPECT_GE(filed, uint32_t(tally.timely)) << "timely replies lost";

    for (int i = 0; i < 4; ++i) {
      const std::string shown = app.monitor().panel(i).view.text;
      if (shown.empty()) continue;
      EXPECT_DOUBLE_EQ(std::stod(shown), i + 1) << "scale " << char('A' + i) << " shows " << shown;
    }
    if (missingB) {
      EXPECT_EQ(app.monitor().panel(1).view.text, "");
      EXPECT_EQ(app.linkStats().scale(1).replies, 0u);
      EXPECT_GT(app.linkStats().scale(1).wrongAddress, 0u) << "A's late replies while B is asked";
    }
  }
}

}  // namespace
}  // namespace trv4::e2e
