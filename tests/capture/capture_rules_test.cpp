// The capture rules in virtual time: the desk on a monitor fed replies, a journal in memory.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/desk_on_monitor.h"

namespace trv4::test {
namespace {

const std::string kSettled = statusReply(StableBit, "012.34");
const std::string kMoving = statusReply(0, "012.34");
const std::string kOffRange = statusReply(StableBit | OffRangeBit, "999999");
const std::string kText = statusReply(StableBit | TextBit, " CORN.");

auto fields(const Capture& c) {
  return std::tie(c.sequence, c.scale, c.text, c.digits, c.decimals, c.unit, c.net, c.utcMs,
                  c.requestedBy, c.delivered);
}

struct CaptureRulesTest : ::testing::Test, DeskOnMonitor {
  CaptureRulesTest()
      : DeskOnMonitor([this](int i) { return served[static_cast<std::size_t>(i)]; }) {
    served.fill(true);
  }

  // Replies of a scale, one every 100 ms from fromMs on; "" blanks its panel.
  void replies(int64_t fromMs, int scale, const std::vector<std::string>& sts) {
    for (std::size_t n = 0; n < sts.size(); ++n)
      tk.schedule(fromMs + 100 * static_cast<int64_t>(n), [this, scale, st = sts[n]] {
        if (st.empty())
          monitor.blankPanel(scale);
        else
          monitor.DispWeight(static_cast<int16_t>(scale), st);
      });
  }
  // Asks for a capture now; its outcome and when it came land in `outcomes`.
  void ask(int scale, int answers = 3, int timeoutMs = 5000) {
    inCall = true;
    desk.capture({scale, answers, timeoutMs, "test"}, [this](const CaptureOutcome& o) {
      EXPECT_FALSE(inCall) << "told within the call";
      outcomes.push_back(o);
      toldAt.push_back(tk.now());
    });
    inCall = false;
  }
  // The one outcome, once the virtual clock has run far enough.
  CaptureOutcome only() {
    tk.advance(10000);
    EXPECT_EQ(outcomes.size(), 1u);
    return outcomes.empty() ? CaptureOutcome{} : outcomes.front();
  }

  std::array<bool, kMaxScales> served{};
  std::vector<CaptureOutcome> outcomes;
  std::vector<int64_t> toldAt;
  bool inCall = false;
};

TEST_F(CaptureRulesTest, TakesThePanelAfterThreeSettledRepliesCommitsThenTellsListenersAndAsker) {
  replies(50, 0, {kSettled});  // before the request: does not count
  tk.advance(100);
  std::vector<std::size_t> committedWhenTold;
  desk.addListener([&](const Capture&) {
    committedWhenTold.push_back(journal.rows.size());
    EXPECT_TRUE(outcomes.empty()) << "the asker is told after the listeners";
  });
  ask(0);
  replies(200, 0, {kMoving, kSettled, kSettled, kSettled, kSettled});
  const CaptureOutcome o = only();
  ASSERT_TRUE(o.capture);
  // Taken at the third settled reply, at 500 ms.
  const Capture taken{1, 0, "12.34 kg", 1234, 2, "kg", false, tk.wallBaseMs + 500, "test"};
  EXPECT_EQ(fields(*o.capture), fields(taken));
  EXPECT_EQ(o.message, "Capture 1: scale A, 12.34 kg gross.");
  EXPECT_EQ(committedWhenTold, std::vector<std::size_t>{1});
  EXPECT_EQ(toldAt.front(), 501);  // from a tick of its own, just after the reply
  ASSERT_EQ(journal.rows.size(), 1u);
  EXPECT_EQ(fields(journal.rows[0]), fields(taken));
}

TEST_F(CaptureRulesTest, MotionOffRangeATextOrABlankPanelStartTheCountAgain) {
  for (const std::string& interruption : {kMoving, kOffRange, kText, std::string()}) {
    SCOPED_TRACE("interrupted by \"" + interruption + "\"");
    outcomes.clear();
    ask(1);
    replies(tk.now() + 100, 1, {kSettled, kSettled, interruption, kSettled, kSettled});
    tk.advance(700);
    EXPECT_TRUE(outcomes.empty()) << "two settled replies after the interruption are not three";
    replies(tk.now(), 1, {kSettled});
    tk.advance(10);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].capture);
  }
  // The centre-of-zero mark "o" is no motion.
  outcomes.clear();
  ask(2, 1);
  replies(tk.now() + 100, 2, {statusReply(StableBit | MarkBit, "000.00")});
  const CaptureOutcome o = CaptureRulesTest::only();
  ASSERT_TRUE(o.capture) << o.message;
  EXPECT_EQ(o.capture->text, "0.00 kg");
}

TEST_F(CaptureRulesTest, AtTheTimeLimitTheLastStateShownGivesTheReason) {
  using F = CaptureFailure;
  const std::string silent = "Scale D did not answer.";
  const std::tuple<std::vector<std::string>, F, std::string> cases[] = {
      {{kMoving, kSettled, kSettled}, F::kMoving, "Scale D did not settle within 2.5 s."},
      {{kSettled, kSettled, kOffRange}, F::kOffRange, "Scale D shows Off Range."},
      {{kMoving, kText}, F::kNotAWeight, "Scale D shows a text, not a weight."},
      {{kMoving, ""}, F::kNoAnswer, silent},
  };
  for (const auto& [shown, failure, message] : cases) {
    SCOPED_TRACE(message);
    outcomes.clear();
    toldAt.clear();
    const int64_t t0 = tk.now();
    ask(3, 3, 2500);
    replies(t0 + 100, 3, shown);
    tk.advance(2499);
    EXPECT_TRUE(outcomes.empty()) << "told before the time limit";
    tk.advance(100);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(std::tuple(outcomes[0].capture.has_value(), outcomes[0].failure, outcomes[0].message),
              std::tuple(false, failure, message));
    EXPECT_LE(toldAt[0], t0 + 2502);
  }
  // A limit above an hour is an hour.
  outcomes.clear();
  ask(3, 3, 2 * 3600 * 1000);
  tk.advance(3600 * 1000 + 10);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].message, silent);
  EXPECT_TRUE(journal.rows.empty());
}

TEST_F(CaptureRulesTest, PoundsNegativeAndNetWeightsAreTakenAsShown) {
  state.UnitFlag = 1;
  ask(4, 1);
  replies(100, 4, {statusReply(StableBit | NetBit | NegativeBit, "001.25")});
  const CaptureOutcome o = only();
  ASSERT_TRUE(o.capture);
  // 1.25 kg as the panel shows it in pounds.
  EXPECT_EQ(fields(*o.capture),
            fields({1, 4, "-2.76 lb", -276, 2, "lb", true, tk.wallBaseMs + 100, "test"}));
  EXPECT_EQ(o.message, "Capture 1: scale E, -2.76 lb net.");
}

TEST_F(CaptureRulesTest, AScaleThatIsNotPolledFailsAtOnceOrAtTheLimitWhenItStopsBeingPolled) {
  served[5] = false;
  for (const int scale : {5, -1, kMaxScales}) ask(scale);
  tk.advance(2);  // from a tick of its own
  std::string told;
  for (const CaptureOutcome& o : outcomes)
    told += std::string(captureFailureName(o.failure)) + ": " + o.message + "\n";
  EXPECT_EQ(told,
            "not polled: Scale F is not polled.\nnot polled: There is no scale -1.\n"
            "not polled: There is no scale 30.\n");
  // Polled when asked, switched off while it waits: its replies stop, so the reason is this.
  outcomes.clear();
  ask(6);
  replies(tk.now() + 100, 6, {kSettled});
  tk.schedule(tk.now() + 200, [this] { served[6] = false; });
  tk.advance(6000);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].failure, CaptureFailure::kNotPolled);
}

// A capture asked for a scale while one for it waits joins it: one weighing, one number, every
// asker told the same; other scales wait side by side and each gets the next number.
TEST_F(CaptureRulesTest, CapturesOfOneScaleJoinTheOneThatWaitsOthersWaitSideBySide) {
  ask(0);
  ask(0, 5);  // joins: the first one's three replies decide
  ask(1, 1);
  replies(100, 0, {kSettled, kSettled, kSettled, kSettled, kSettled});
  tk.schedule(150, [this] { monitor.DispWeight(1, statusReply(StableBit, "007.00")); });
  tk.advance(1000);
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].message, "Capture 1: scale B, 7.00 kg gross.");
  for (const std::size_t i : {1u, 2u}) {
    ASSERT_TRUE(outcomes[i].capture);
    EXPECT_EQ(outcomes[i].capture->utcMs, tk.wallBaseMs + 300);
    EXPECT_EQ(outcomes[i].message, "Capture 2: scale A, 12.34 kg gross.");
  }
  EXPECT_EQ(journal.rows.size(), 2u);
}

// A client asking some 900 captures a second of a scale that moves: a failure reaches every asker.
TEST_F(CaptureRulesTest, AFloodOfCapturesForOneScaleIsOneCaptureAndOneOutcome) {
  for (int i = 0; i < 900; ++i) {
    tk.schedule(i + 1, [this] { ask(0, 3, 2000); });
    if (i % 100 == 0) replies(i + 1, 0, {kMoving});
  }
  tk.advance(1000);
  EXPECT_EQ(std::pair(desk.waiting(), outcomes.size()),
            std::pair(std::size_t{900}, std::size_t{0}));
  tk.advance(2000);
  ASSERT_EQ(outcomes.size(), 900u);
  for (const CaptureOutcome& o : outcomes) ASSERT_EQ(o.failure, CaptureFailure::kMoving);
  EXPECT_EQ(desk.waiting(), 0u);
}

TEST_F(CaptureRulesTest, AJournalThatCannotStoreItRefusesTheCaptureAndTellsNoListener) {
  journal.failWith =
      JournalFailure{.code = JournalFailureCode::kCannotWrite, .journal = "TRV4CAP.DB"};
  int told = 0;
  desk.addListener([&](const Capture&) { ++told; });
  ask(0, 1);
  replies(100, 0, {kSettled});
  const CaptureOutcome o = only();
  EXPECT_EQ(std::tuple(o.capture.has_value(), o.failure, o.journalFailure, o.message, told),
            std::tuple(false, CaptureFailure::kJournal, journal.failWith,
                       journalFailureText(*journal.failWith), 0));
}

}  // namespace
}  // namespace trv4::test
