// The scan cycle: the frames on the wire, which scale is served when, how long an exchange holds
// the cycle, the display countdown, and what is filed from the bytes that come back.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "link/traffic_ring.h"
#include "link/transliterate.h"
#include "tests/support/link_fixture.h"

namespace trv4::test {
namespace {

TEST(Frame, FirstFrameOnTheLine) {
  const std::string table[][3] = {
      // selection, queued text, frame
      {"A", "", "\x02\x41\x3F\x30\x34\x3C\x03"},          // status request
      {"A", "Z", "\x02\x41\x5A\x31\x39\x03"},             // command
      {"@", kResetCommand, "\x02\x40\x52\x31\x30\x03"},   // broadcast
      {"A", "\xc1\xf9", "\x02\x41\x80\xe0\x32\x33\x03"},  // Greek, transliterated
      {"@", "\xc1", "\x02\x40\xc1\x38\x33\x03"},          // broadcast sent as typed
      {"A", "\xff", "\x02\x41\xff\x3B\x3C\x03"},          // 8-bit codes count unsigned
  };
  for (const auto& row : table) {
    LinkRig r;
    QueueCommand(r.state, row[0], row[1]);
    r.tk.advance(100);
    ASSERT_EQ(r.port.writes.size(), 1u);
    EXPECT_EQ(r.port.writes[0].bytes, row[2]);
  }
}

TEST(Frame, TransliterationTableBoundaries) {
  const int table[][2] = {{193, 128}, {209, 144}, {210, 210}, {211, 145}, {217, 151}, {225, 152},
                          {242, 169}, {248, 175}, {249, 224}, {250, 250}, {65, 65},   {0, 0}};
  for (const auto& row : table) {
    const std::string out = TransliterateGreek(std::string(1, static_cast<char>(row[0])) + "x");
    EXPECT_EQ(out, std::string(1, static_cast<char>(row[1])) + "x") << "code " << row[0];
  }
}

TEST(ScanOrder, CommandsAndPollsTakeTurns) {
  const struct {
    const char* name;
    const char* enabled;
    const char* single;  // selection with Single Scale checked, or nullptr
    std::vector<std::pair<const char*, std::string>> queued;  // selection, text
    std::string expected;
  } table[] = {
      // clang-format off
      {"broadcast before a queued command, filed under A", "ABC", nullptr, {{"A", "Z"}, {"@", "R"}},
       "@R B?0 AZ B?0"},
      {"no scale enabled: nothing, not even a broadcast", "", nullptr, {{"@", "R"}}, ""},
      {"single scale C, off the cycle: its command goes", "A", "C", {{"C", "Z"}}, "CZ C?0 C?0"},
      {"single scale with @ runs the normal cycle", "BE", "@", {}, "B?0 E?0 B?0"},
      {"single scale with no selection is taken as @", "BE", "", {}, "B?0 E?0 B?0"},
      // clang-format on
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    LinkRig r(row.enabled);
    r.singleChecked = row.single != nullptr;
    r.selection = row.single ? row.single : "@";
    r.answerEverything();
    for (const auto& [selection, text] : row.queued) QueueCommand(r.state, selection, text);
    const size_t n = std::count(row.expected.begin(), row.expected.end(), ' ') + 1;
    r.tk.runUntil([&] { return r.port.writes.size() >= n; }, 10000);
    EXPECT_EQ(r.sent(), row.expected);
  }
}

TEST(Timing, UnansweredExchangesHoldTheCycle) {
  const std::string e = makeFrame('A', "Z"), reply = makeFrame('A', "?0 12.50");  // the echo
  const struct {
    const char* name;
    const char* command;
    std::vector<std::pair<int64_t, std::string>> reads;  // ms after the command, bytes
    std::vector<int64_t> writes;
  } table[] = {
      // clang-format off
      {"status request: 100 ms", "", {}, {100, 200, 300, 400}},
      {"command: until the first tick after its time-out", "Z", {}, {100, 400}},
      {"broadcast: held as a command", "@R", {}, {100, 400}},
      // Echo at 105 and 190: the character time-out ends the exchange at 210.
      {"echo: character time-out", "Z", {{5, e.substr(0, 3)}, {90, e.substr(3)}}, {100, 300, 400}},
      {"another scale's frame: time-out holds", "Z", {{10, makeFrame('B', "\x06")}}, {100, 400}},
      // A dropped piece leaves the exchange to its time-out; a filed one sends the next at once.
      {"short status frame: dropped", "", {{5, std::string(1, STX) + "A?12BB" + ETX}},
       {100, 200, 300, 400}},
      // A's reply begun 5 ms before its time-out behind another's, the rest 10 ms later.
      {"A's behind another's: filed", "",
       {{45, makeFrame('B', "?0 99.99") + reply.substr(0, 5)}, {55, reply.substr(5)}},
       {100, 155, 255, 355}},
      // clang-format on
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    LinkRig r("A");
    r.state.CommandReplyTimeout = 250;
    r.state.CommandQueue[*row.command == '@' ? kBroadcastSlot : 0] =
        row.command + (*row.command == '@');
    r.port.onWrite = [&r, &row](const std::string&) {
      if (r.port.writes.size() == 1)
        for (const auto& [at, bytes] : row.reads) r.port.deliver(bytes, at);
    };
    r.tk.advance(450);
    std::vector<int64_t> at;
    for (const auto& w : r.port.writes) at.push_back(w.at);
    EXPECT_EQ(at, row.writes);
  }
}

TEST_F(LinkTest, DisplayHoldIs49AfterAReplyThenRunsDownToABlankPanel) {
  enableOnly("A");
  port.onWrite = [this](const std::string&) {
    if (port.writes.size() == 1) port.deliver(makeFrame('A', "?0 12.50"), 10);
  };
  tk.advance(110 + 4899);  // the reply is accepted at 110
  EXPECT_TRUE(blanks.empty());
  tk.advance(1);  // the 49th step after the reply
  EXPECT_EQ(blanks, (std::vector<std::pair<int64_t, int>>{{5010, 0}}));
}

TEST_F(LinkTest, ZeroTimingsOrALostPortDoNotStopTheCycle) {
  enableOnly("A");
  state.StatusReplyTimeout = state.StatusScanDelay = state.CharTimeout = 0;
  port.setPortOpen(false);
  answerEverything(3);
  tk.advance(1000);
  EXPECT_TRUE(port.writes.empty());
  port.setPortOpen(true);
  tk.advance(110);
  const size_t sentBeforeUnplug = port.writes.size();
  EXPECT_GE(sentBeforeUnplug, 5u);
  port.unplug();  // with a reply on its way
  tk.advance(5000);
  EXPECT_EQ(port.writes.size(), sentBeforeUnplug);
}

// An over-long read ends the exchange like a time-out; a frame after it is dropped with it. A line
// that streams characters, never an ETX, would re-arm the character time-out for ever.
TEST_F(LinkTest, StreamingLineOrOverlongBufferDoesNotStallTheCycle) {
  enableOnly("AB");
  tk.advance(100);
  port.deliver(std::string(kRxBufferLimit, 'y'), 1);  // at the limit: kept
  tk.advance(1);
  EXPECT_EQ(link.exchange().RxBuffer.size(), kRxBufferLimit);
  port.deliver("y", 0);  // one past it
  tk.advance(0);
  EXPECT_EQ(link.exchange().RxBuffer, "");
  port.deliver(makeFrame('A', "?0 12.50"), 2);
  for (int64_t t = 101; t <= 4900; t += 2) port.deliver("x", t);
  size_t longest = 0;
  while (tk.now() < 5000 && tk.step()) longest = std::max(longest, link.exchange().RxBuffer.size());
  EXPECT_LE(longest, kRxBufferLimit);
  EXPECT_EQ(state.StatusReply[0], "");
  ASSERT_EQ(sent().substr(0, 15), "A?0 B?0 A?0 B?0");
  EXPECT_EQ(port.writes[1].at, 200);
}

TEST_F(LinkTest, AWatcherIsToldEveryFrameAndTimeOut) {
  enableOnly("AB");
  TrafficRing ring(tk);
  link.addObserver(ring);
  // A answers with noise ahead of its status, and with its echo before its ACK to "S2", which gives
  // it the address K: that answer is A's. B is silent.
  port.onWrite = [this](const std::string& frame) {
    if (frame[1] != 'A') return;
    if (frame.substr(2, 2) == "?0") return port.deliver("xy" + makeFrame('A', "?0 12.50"), 5);
    port.deliver(frame + makeFrame('K', "\x06"), 5);
  };
  QueueCommand(state, "A", "S2K9608");
  tk.advance(100 + 5 + 100 + 50 + 100 + 5);
  // Noise ahead of the STX makes the link take A's status for a command answer, as it always has;
  // the watcher is told what the link did with it.
  using K = TrafficKind;
  std::vector<std::tuple<K, int, std::string>> seen;
  for (std::size_t i = 0; i < std::min<std::size_t>(ring.size(), 8); ++i)
    seen.emplace_back(ring.at(i).kind, ring.at(i).scale, ring.at(i).bytes);
  EXPECT_EQ(seen, (std::vector<std::tuple<K, int, std::string>>{
                      {K::Command, 0, makeFrame('A', "S2K9608")},
                      {K::Echo, 0, makeFrame('A', "S2K9608")},
                      {K::Acknowledge, 0, makeFrame('K', "\x06")},
                      {K::StatusRequest, 1, makeFrame('B', "?0")},
                      {K::TimeOut, 1, ""},
                      {K::StatusRequest, 0, makeFrame('A', "?0")},
                      {K::Noise, 0, "xy"},
                      {K::Reply, 0, makeFrame('A', "?0 12.50")}}));
}

}  // namespace
}  // namespace trv4::test
