#include <gtest/gtest.h>

#include <algorithm>

#include "tests/link/link_fixture.h"

namespace trv4::test {
namespace {

struct ReceptionCase {
  const char* name;
  std::vector<std::string> reads;  // one receive event each, 5 ms apart
  std::string status;              // expected StatusReply of A ("" = none)
  std::string command;             // expected CommandReply of A ("" = none)
  bool accepted;                   // the next request leaves at once
  std::string rxAfter;             // RxBuffer after the last read
};

std::string bytes(const char* s, size_t n) {
  return std::string(s, n);
}

TEST_F(LinkTest, ReceptionEdgeCases) {
  const std::string S(1, STX), E(1, ETX);
  const std::string echo = makeFrame('A', "?0");
  const std::string reply = makeFrame('A', "?0 12.50");
  const std::string noise = bytes("\x00\xff\x80", 3) + S + "A\x06" + "BB" + E;
  const std::string noEtx = bytes("\x00\xfe\x7f", 3) + S;
  // clang-format off
  const ReceptionCase table[] = {
      {"lone ETX",                             {E},                     "",        "",          false, ""},
      {"ETX before STX, rest kept",            {E + S + "A?0"},         "",        "",          false, S + "A?0"},
      {"three characters between STX and ETX", {S + "AB1" + E},         "",        "",          false, ""},
      {"four characters: command reply",       {S + "AB12" + E},        "",        S + "AB12" + E, true, ""},
      {"status payload of two characters",     {S + "A?12BB" + E},      "",        "",          false, ""},
      {"status payload of three characters",   {S + "A?123BB" + E},     "123",     "",          true,  ""},
      {"reply in pieces",                      {S + "A?0 1", "2.50", "XX" + E}, "0 12.50", "", true, ""},
      {"text before STX, third character ?",   {"zz?" + S + "A?0  1.25XX" + E}, "0  1.25", "", true, ""},
      {"text before STX, whole buffer stored", {"zzz" + S + "A?0  1.25XX" + E}, "",
                                                                   "zzz" + S + "A?0  1.25XX" + E, true, ""},
      {"two frames in one read",               {reply + makeFrame('A', "?1 99.99")}, "0 12.50", "", true, ""},
      {"echo then reply",                      {echo, reply},           "0 12.50", "",          true,  ""},
      {"echo alone",                           {echo},                  "",        "",          false, ""},
      {"echo and reply in one read",           {echo + reply},          "0 12.50", "",          true,  ""},
      {"echo, then two frames in one read",    {echo + reply + reply},  "0 12.50", "",          true,  ""},
      {"noise, NUL and 8-bit bytes",           {noise},                 "",        noise,       true,  ""},
      {"noise without ETX",                    {noEtx},                 "",        "",          false, noEtx},
  };
  // clang-format on
  for (const auto& c : table) {
    SCOPED_TRACE(c.name);
    VirtualToolkit vt;
    LinkState st;
    SimSerialPort sp(vt);
    sp.setPortOpen(true);
    RecordingDisplay disp(st, vt);
    st.ScanList.fill(0);
    st.ScanList[0] = 1;
    ScaleLink sl(st, sp, vt, disp, {});
    vt.advance(100);
    ASSERT_EQ(sp.writes.size(), 1u);
    for (size_t i = 0; i < c.reads.size(); ++i) sp.deliver(c.reads[i], 5 * int64_t(i + 1));
    const int64_t last = 5 * int64_t(c.reads.size());
    vt.advance(last);

    EXPECT_EQ(st.StatusReply[0], c.status);
    EXPECT_EQ(st.CommandReply[0], c.command);
    EXPECT_EQ(disp.weights.size(), c.status.empty() ? 0u : 1u);
    EXPECT_EQ(st.RxBuffer, c.rxAfter);
    if (c.accepted) {
      ASSERT_EQ(sp.writes.size(), 2u);
      EXPECT_EQ(sp.writes[1].at, 100 + last);
      EXPECT_EQ(sp.rThreshold(), 1);
    } else {
      EXPECT_EQ(sp.writes.size(), 1u);
      // The character time-out ends the exchange; the next tick goes on.
      vt.advance(st.CharTimeout);
      EXPECT_FALSE(sl.CharTimer().enabled());
      EXPECT_EQ(st.RxBuffer, "");
      vt.advance(100 - last - st.CharTimeout);
      ASSERT_EQ(sp.writes.size(), 2u);
      EXPECT_EQ(sp.writes[1].at, 200);
    }
  }
}

TEST_F(LinkTest, OnlyTheReceiveEventIsHandled) {
  enableOnly({0});
  start();
  tk.advance(100);
  port.setRThreshold(0);  // let the reply wait in the port without an event
  port.deliver(makeFrame('A', "?0 12.50"));
  tk.advance(1);
  port.raiseEvent(5);  // a line event of another kind
  EXPECT_EQ(state.StatusReply[0], "");
  EXPECT_EQ(port.inBufferCount(), 13);
  port.raiseEvent(kCommEventReceive);
  EXPECT_EQ(state.StatusReply[0], "0 12.50");
}

// A line that streams characters and never an ETX would keep re-arming the character time-out;
// the receive buffer limit ends each such exchange so polling goes on.
TEST_F(LinkTest, StreamingLineDoesNotStallTheCycle) {
  enableOnly({0, 1});
  for (int64_t t = 1; t <= 5000; t += 2) port.deliver("x", t);
  start();
  size_t longest = 0;
  while (tk.now() < 5000 && tk.step()) longest = std::max(longest, state.RxBuffer.size());
  EXPECT_LE(longest, kRxBufferLimit);
  ASSERT_GE(port.writes.size(), 4u);
  // Each exchange lasts about as long as the limit takes to fill at one character per 2 ms.
  EXPECT_LE(port.writes[1].at - port.writes[0].at, int64_t(2 * kRxBufferLimit + 200));
  EXPECT_EQ(sent()[1], "B?0");
}

TEST_F(LinkTest, OverlongBufferEndsTheExchangeLikeATimeout) {
  enableOnly({0});
  start();
  tk.advance(100);
  port.deliver(std::string(kRxBufferLimit + 1, 'y'), 1);
  tk.advance(1);
  EXPECT_EQ(state.RxBuffer, "");
  EXPECT_FALSE(link->CharTimer().enabled());
  EXPECT_EQ(port.rThreshold(), 0);
  port.deliver(makeFrame('A', "?0 12.50"), 1);  // too late: no event, dropped at the next send
  tk.advance(99);
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[1].at, 200);
  EXPECT_EQ(state.StatusReply[0], "");
  // The stale frame was discarded with the new request: the fresh reply is the one filed.
  port.deliver(makeFrame('A', "?0 99.99"), 5);
  tk.advance(5);
  EXPECT_EQ(state.StatusReply[0], "0 99.99");
}

}  // namespace
}  // namespace trv4::test
