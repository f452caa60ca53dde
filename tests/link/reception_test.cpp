// Reception: what is filed from the bytes that come back; bad input never stalls the cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "tests/support/link_fixture.h"

namespace trv4::test {
namespace {

TEST(Reception, EdgeCases) {
  const std::string S(1, STX), E(1, ETX);
  const std::string echo = makeFrame('A', "?0"), reply = makeFrame('A', "?0 12.50");
  const std::string noise = std::string("\x00\xff\x80", 3) + S + "A\x06" + "BB" + E;
  const std::string noEtx = std::string("\x00\xfe\x7f", 3) + S;
  const struct {
    const char* name;
    std::vector<std::string> reads;  // one receive event each, 5 ms apart
    std::string status;              // StatusReply of A
    std::string command;             // CommandReply of A
    bool accepted;                   // the next request leaves at once
    std::string rxAfter;             // RxBuffer after the last read
  } table[] = {
      // clang-format off
      {"lone ETX",                      {E},                           "",        "",              false, ""},
      {"ETX before STX, rest kept",     {E + S + "A?0"},               "",        "",              false, S + "A?0"},
      {"3 characters in STX..ETX",      {S + "AB1" + E},               "",        "",              false, ""},
      {"4 characters: command reply",   {S + "AB12" + E},              "",        S + "AB12" + E,  true,  ""},
      {"status payload of 2",           {S + "A?12BB" + E},            "",        "",              false, ""},
      {"status payload of 3",           {S + "A?123BB" + E},           "123",     "",              true,  ""},
      {"reply in pieces",               {S + "A?0 1", "2.50", "XX" + E}, "0 12.50", "",            true,  ""},
      {"text before STX, third is ?",   {"zz?" + S + "A?0  1.25XX" + E}, "0  1.25", "",            true,  ""},
      {"text before STX, whole stored", {"zzz" + S + "A?0  1.25XX" + E}, "", "zzz" + S + "A?0  1.25XX" + E, true, ""},
      {"two frames in one read",        {reply + makeFrame('A', "?1 99.99")}, "0 12.50", "",     true,  ""},
      {"echo then reply",               {echo, reply},                 "0 12.50", "",              true,  ""},
      {"echo and reply in one read",    {echo + reply},                "0 12.50", "",              true,  ""},
      {"noise, NUL and 8-bit bytes",    {noise},                       "",        noise,           true,  ""},
      {"noise without ETX",             {noEtx},                       "",        "",              false, noEtx},
      // clang-format on
  };
  for (const auto& c : table) {
    SCOPED_TRACE(c.name);
    LinkRig r("A");
    r.tk.advance(100);
    for (size_t i = 0; i < c.reads.size(); ++i) r.port.deliver(c.reads[i], 5 * int64_t(i + 1));
    const int64_t last = 5 * int64_t(c.reads.size());
    r.tk.advance(last);
    EXPECT_EQ(std::tie(r.state.StatusReply[0], r.state.CommandReply[0], r.state.RxBuffer),
              std::tie(c.status, c.command, c.rxAfter));
    EXPECT_EQ(r.weights.size(), c.status.empty() ? 0u : 1u);
    // Accepted: the next request goes at once. Otherwise the character time-out ends the
    // exchange and the next tick goes on.
    r.tk.advance(200 - r.tk.now());
    ASSERT_GE(r.port.writes.size(), 2u);
    EXPECT_EQ(r.port.writes[1].at, c.accepted ? 100 + last : 200);
  }
}

// An over-long read ends the exchange like a time-out, and a frame that comes after it is
// dropped with the next request. A line that streams characters and never an ETX would keep
// re-arming the character time-out; the receive buffer limit ends each such exchange.
TEST_F(LinkTest, StreamingLineOrOverlongBufferDoesNotStallTheCycle) {
  enableOnly("AB");
  tk.advance(100);
  port.deliver(std::string(kRxBufferLimit, 'y'), 1);  // at the limit: kept
  tk.advance(1);
  EXPECT_EQ(state.RxBuffer.size(), kRxBufferLimit);
  port.deliver("y", 0);  // one past it
  tk.advance(0);
  EXPECT_EQ(state.RxBuffer, "");
  port.deliver(makeFrame('A', "?0 12.50"), 2);
  for (int64_t t = 101; t <= 4900; t += 2) port.deliver("x", t);
  size_t longest = 0;
  while (tk.now() < 5000 && tk.step()) longest = std::max(longest, state.RxBuffer.size());
  EXPECT_LE(longest, kRxBufferLimit);
  EXPECT_EQ(state.StatusReply[0], "");
  ASSERT_EQ(sent().substr(0, 15), "A?0 B?0 A?0 B?0");
  EXPECT_EQ(port.writes[1].at, 200);
}

}  // namespace
}  // namespace trv4::test
