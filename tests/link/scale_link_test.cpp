#include <gtest/gtest.h>

#include "link/command_queue.h"
#include "tests/link/link_fixture.h"

namespace trv4::test {
namespace {

using Sent = std::vector<std::string>;

TEST_F(LinkTest, FirstFramesOnTheLine) {
  const struct {
    const char* name;
    const char* selection;
    std::string queued;
    std::string bytes;
  } table[] = {
      {"status to A", "A", "", "\x02\x41\x3F\x30\x34\x3C\x03"},
      {"Z to A", "A", "Z", "\x02\x41\x5A\x31\x39\x03"},
      {"broadcast Reset", "@", kResetCommand, "\x02\x40\x52\x31\x30\x03"},
      {"Reset to B", "B", kResetCommand, "\x02\x42\x52\x31\x32\x03"},
      {"Greek text to A", "A", "\xc1\xf9", "\x02\x41\x80\xe0\x32\x33\x03"},
      {"Greek broadcast as typed", "@", "\xc1", "\x02\x40\xc1\x38\x33\x03"},
  };
  for (const auto& row : table) {
    VirtualToolkit vt;
    LinkState st;
    SimSerialPort sp(vt);
    sp.setPortOpen(true);
    RecordingDisplay disp(st, vt);
    if (!row.queued.empty()) QueueCommand(st, row.selection, row.queued);
    ScaleLink sl(st, sp, vt, disp, {});
    vt.advance(99);
    EXPECT_TRUE(sp.writes.empty()) << row.name;
    vt.advance(1);
    ASSERT_EQ(sp.writes.size(), 1u) << row.name;
    EXPECT_EQ(sp.writes[0].bytes, row.bytes) << row.name;
    EXPECT_EQ(st.LastSentFrame, row.bytes) << row.name;
  }
}

TEST_F(LinkTest, AllThirtyScalesInOrder) {
  state.ScanList.fill(1);
  answerEverything();
  start();
  tk.runUntil([&] { return port.writes.size() >= 32; }, 10000);
  Sent expected;
  for (int i = 0; i < 32; ++i) expected.push_back(std::string(1, scaleAddress(i % 30)) + "?0");
  EXPECT_EQ(sent(), expected);
  EXPECT_EQ(display.weights.size(), 31u);
  EXPECT_EQ(state.StatusReply[29], "0 12.50");
}

TEST_F(LinkTest, CommandForTheScaleJustServedWaitsOneStep) {
  enableOnly({0, 1});
  answerEverything();
  start();
  tk.advance(101);  // status request to A is out, reply pending
  state.CommandQueue[0] = "Z";
  tk.runUntil([&] { return port.writes.size() >= 3; }, 1000);
  EXPECT_EQ(sent(), (Sent{"A?0", "B?0", "AZ"}));
  tk.advance(10);
  EXPECT_EQ(state.CommandReply[0], makeFrame('A', "\x06"));
}

TEST_F(LinkTest, CommandForTheOnlyEnabledScaleGoesAtOnce) {
  enableOnly({3});
  answerEverything();
  start();
  tk.advance(101);
  state.CommandQueue[3] = "T";
  tk.runUntil([&] { return port.writes.size() >= 4; }, 1000);
  EXPECT_EQ(sent(), (Sent{"D?0", "DT", "D?0", "D?0"}));
}

TEST_F(LinkTest, BroadcastGoesBeforeAQueuedCommand) {
  answerEverything();
  state.CommandQueue[0] = "Z";
  state.CommandQueue[kBroadcastSlot] = "R";
  start();
  tk.runUntil([&] { return port.writes.size() >= 3; }, 2000);
  // The broadcast is filed under A, so A comes last in the next command search.
  EXPECT_EQ(sent(), (Sent{"@R", "B?0", "AZ"}));
  EXPECT_EQ(state.CommandQueue[kBroadcastSlot], "");
}

TEST_F(LinkTest, SingleScaleModeServesTheSelectionOnly) {
  enableOnly({0});
  answerEverything();
  singleChecked = true;
  selection = "C";  // not in the cycle: served all the same
  start();
  tk.runUntil([&] { return port.writes.size() >= 5; }, 2000);
  EXPECT_EQ(sent(), Sent(5, "C?0"));
  EXPECT_EQ(state.SingleScaleMode, 1);
  EXPECT_EQ(state.DisplayHold[0], 50);
  EXPECT_EQ(state.DisplayHold[1], 50);
  EXPECT_EQ(state.DisplayHold[2], 49);
}

TEST_F(LinkTest, SingleScaleModeWithBroadcastOrNoSelectionRunsTheNormalCycle) {
  // An empty or unknown selection is taken as "@".
  for (const char* sel : {"@", "", "_", "AB"}) {
    VirtualToolkit vt;
    LinkState st;
    SimSerialPort sp(vt);
    sp.setPortOpen(true);
    RecordingDisplay disp(st, vt);
    st.ScanList.fill(0);
    st.ScanList[1] = st.ScanList[4] = 1;
    ScaleLink sl(st, sp, vt, disp, {[] { return true; }, [sel] { return std::string(sel); }});
    vt.advance(300);
    ASSERT_EQ(sp.writes.size(), 3u) << sel;
    EXPECT_EQ(sp.writes[0].bytes[1], 'B') << sel;
    EXPECT_EQ(sp.writes[1].bytes[1], 'E') << sel;
    EXPECT_EQ(sp.writes[2].bytes[1], 'B') << sel;
  }
}

TEST_F(LinkTest, NoScaleEnabledSendsNothingNotEvenABroadcast) {
  enableOnly({});
  state.StatusScanDelay = 70;
  state.CommandQueue[kBroadcastSlot] = "R";
  start();
  tk.advance(2000);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(state.CommandQueue[kBroadcastSlot], "R");
  // The cycle keeps ticking at the status scan delay and picks up a scale once enabled.
  state.ScanList[5] = 1;  // now t = 2000; ticks at 100 + 70k: next at 2060
  tk.advance(100);
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0].at, 2060);
  EXPECT_EQ(sent()[0], "@R");
}

TEST_F(LinkTest, RepeatedAckBeforeSendingMakesOneFrame) {
  QueueCommand(state, "B", kAckCommand);
  QueueCommand(state, "B", kAckCommand);
  answerEverything();
  start();
  tk.advance(3000);
  int acks = 0;
  for (const auto& s : sent()) acks += s == "B\x06";
  EXPECT_EQ(acks, 1);
}

TEST_F(LinkTest, CommandForAScaleOutOfTheCycleWaitsForSingleScaleMode) {
  answerEverything();
  state.CommandQueue[10] = "Z";
  start();
  tk.advance(2000);
  for (const auto& s : sent()) EXPECT_NE(s[0], 'K');
  EXPECT_EQ(state.CommandQueue[10], "Z");
  singleChecked = true;
  selection = "K";
  const size_t before = port.writes.size();
  tk.advance(200);
  ASSERT_GT(port.writes.size(), before);
  EXPECT_EQ(sent()[before], "KZ");
  EXPECT_EQ(state.CommandQueue[10], "");
}

TEST_F(LinkTest, HighlightFollowsTheScaleServed) {
  enableOnly({0, 2});
  start();
  tk.advance(200);
  EXPECT_EQ(display.highlights,
            (std::vector<std::pair<int, bool>>{{29, false}, {0, true}, {0, false}, {2, true}}));
}

TEST_F(LinkTest, UnansweredStatusRequestHoldsTheCycle100ms) {
  enableOnly({0, 1});
  start();
  tk.advance(450);
  ASSERT_EQ(port.writes.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(port.writes[i].at, 100 + 100 * int64_t(i));
}

TEST_F(LinkTest, UnansweredCommandHoldsTheCycleUntilTheTickAfterItsTimeout) {
  enableOnly({0});
  state.CommandReplyTimeout = 250;
  state.CommandQueue[0] = "Z";
  start();
  tk.advance(450);
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[0].at, 100);
  EXPECT_EQ(port.writes[1].at, 400);
  // Ticks at 200 and 300 only aged the display: 50 - 3 steps.
  EXPECT_EQ(state.DisplayHold[0], 47);
}

TEST_F(LinkTest, AfterAnEchoTheCharacterTimeoutCountsFromTheLastCharacter) {
  enableOnly({0});
  state.CommandQueue[0] = "Z";
  port.onWrite = [this](const std::string& frame) {
    if (frame.substr(1, 2) != "AZ") return;
    port.deliver(frame.substr(0, 3), 5);  // echo in two pieces, no reply
    port.deliver(frame.substr(3), 15);
  };
  start();
  tk.advance(134);  // last character at 115: CharTimer due at 135
  EXPECT_TRUE(link->CharTimer().enabled());
  tk.advance(1);
  EXPECT_FALSE(link->CharTimer().enabled());
  tk.advance(100);
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[1].at, 200);
}

TEST_F(LinkTest, SilentScaleIsBlankedAtTheFiftiethStepAndStaysAtZero) {
  enableOnly({0});
  start();
  tk.advance(5099);
  for (const auto& b : display.blanks) ADD_FAILURE() << "blanked " << b.scale << " at " << b.at;
  tk.advance(1);  // step 51: the 50th that ages scale 0
  ASSERT_EQ(display.blanks.size(), 1u);
  EXPECT_EQ(display.blanks[0].scale, 0);
  // With the port closed for long the countdown rests at 0 and the panel is blanked each step.
  port.setPortOpen(false);
  tk.advance(100000);
  EXPECT_EQ(state.DisplayHold[0], 0);
  EXPECT_EQ(display.blanks.size(), 1001u);
  EXPECT_EQ(display.blanks.back().at, 105100);
}

TEST_F(LinkTest, AcceptedReplyLeavesTheCountdownAt49) {
  enableOnly({0, 1});
  answerEverything();
  start();
  tk.advance(110);  // reply of A accepted, next request to B sent at once
  ASSERT_EQ(display.weights.size(), 1u);
  EXPECT_EQ(display.weights[0].scale, 0);
  EXPECT_EQ(display.weights[0].status, "0 12.50");
  EXPECT_EQ(state.DisplayHold[0], 49);
  EXPECT_EQ(port.writes.back().at, 110);
  EXPECT_EQ(sent().back(), "B?0");
}

TEST_F(LinkTest, ClosedPortSendsNothingButStillAges) {
  port.setPortOpen(false);
  start();
  tk.advance(1000);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(state.DisplayHold[29], 40);
  port.setPortOpen(true);
  tk.advance(100);
  EXPECT_EQ(sent(), Sent{"A?0"});
}

TEST_F(LinkTest, UnpluggedPortStopsTrafficWithoutHarm) {
  state.ScanList.fill(1);
  answerEverything(30);
  start();
  tk.advance(250);
  const size_t before = port.writes.size();
  ASSERT_GT(before, 0u);
  port.unplug();
  tk.advance(5000);
  EXPECT_EQ(port.writes.size(), before);
  EXPECT_FALSE(link->CharTimer().enabled());
  EXPECT_TRUE(link->BlockTimer().enabled());
}

TEST_F(LinkTest, ZeroTimingsDoNotStopTheCycle) {
  enableOnly({0});
  state.StatusReplyTimeout = 0;
  state.StatusScanDelay = 0;
  state.CharTimeout = 0;
  start();
  tk.advance(110);
  EXPECT_GE(port.writes.size(), 5u);
}

}  // namespace
}  // namespace trv4::test
