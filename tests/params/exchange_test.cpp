// The parameter window's waits on a scripted line: attempts, time-outs, the answer's test.
#include <gtest/gtest.h>

#include <algorithm>

#include "params/param_exchange.h"
#include "tests/support/link_fixture.h"

namespace trv4::test {
namespace {

struct ExchangeTest : LinkTest {
  ExchangeTest() {
    settings.SingleScale = "B";
    tk.advance(200);
  }
  // Frames sent with this body, to any address.
  int sent(const std::string& body) const {
    return std::ranges::count_if(
        port.writes, [&](const auto& w) { return w.bytes.substr(2, body.size()) == body; });
  }
  // Scales answer status requests, and `request` with the frame body `body`.
  void answer(const std::string& request, const std::string& body) {
    port.onWrite = [this, request, body](const std::string& frame) {
      if (frame.size() < 5 || frame[1] == '@') return;
      const std::string got = frame.substr(2, frame.size() - 5);
      if (got == "?0") port.deliver(makeFrame(frame[1], "?0 12.50"), 2);
      if (got == request) port.deliver(makeFrame(frame[1], body), 2);
    };
  }

  DisplaySettings settings;
  ParamExchange ex{state, settings, tk};
};

TEST_F(ExchangeTest, ReadsAcceptOnlyALongerAnswerThatEchoesTheRequest) {
  // "p1" + six digits: a 13-character answer.
  answer("p1", "p1204022");
  EXPECT_TRUE(ex.WaitDataL("p1", 12, "p1"));
  EXPECT_EQ(ex.reply(), makeFrame('B', "p1204022"));
  EXPECT_FALSE(ex.WaitDataL("p1", 13, "p1"));  // exactly b characters long
  EXPECT_FALSE(ex.WaitDataL("p1", 8, "p2"));   // the wrong echo
  // A negative acknowledge ends each wait early and costs a try: three sends, then false.
  answer("p1", "\x15");
  const int before = sent("p1");
  const int64_t start = tk.now();
  EXPECT_FALSE(ex.WaitDataL("p1", 12, "p1"));
  EXPECT_EQ(sent("p1") - before, 3);
  EXPECT_LT(tk.now() - start, 600);
}

TEST_F(ExchangeTest, SilenceCostsTheStatedTimeOuts) {
  answer("none", "");
  int64_t start = tk.now();
  ex.WaitPin("J0000042");
  EXPECT_EQ(std::pair(tk.now() - start, ex.reply()), std::pair(int64_t{300}, std::string()));
  // Three WaitData calls of two 100 ms attempts each.
  start = tk.now();
  EXPECT_FALSE(ex.WaitDataL("d", 11, "d"));
  EXPECT_EQ(tk.now() - start, 600);

  // A target left out of the scan cycle is never sent to.
  enableOnly("A");
  const int before = sent("q1");
  EXPECT_FALSE(ex.WaitDataL("q1", 9, "q1"));
  tk.advance(1000);
  EXPECT_EQ(sent("q1"), before);
}

TEST_F(ExchangeTest, BroadcastWaitsForTheSendAndAStatusReply) {
  settings.SingleScale = "@";
  answer("none", "");
  // The interval as loaded, 3000 ms, ended by the first status reply after the broadcast.
  const int64_t start = tk.now();
  EXPECT_TRUE(ex.WaitDataL("P2019900", 5, "\x06"));
  EXPECT_EQ(
      std::ranges::count(port.writes, makeFrame('@', "P2019900"), &SimSerialPort::Write::bytes), 1);
  // The line is held 300 ms after the broadcast; the next status reply comes after that.
  EXPECT_GT(tk.now() - start, 300);
  EXPECT_LT(tk.now() - start, 600);

  // A broadcast still waiting to leave is not replaced by the next one.
  ex.WaitData("S10000");
  ex.WaitData("S11000");
  EXPECT_EQ(sent("S10000") + sent("S11000"), 2);
}

}  // namespace
}  // namespace trv4::test
