// Daily weighing against simulated scales in virtual time: the single-scale window and the log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "base/file_names.h"
#include "base/platform.h"
#include "tests/support/app_on_sim.h"
#include "tests/support/file_text.h"

namespace trv4::test {
namespace {

using Texts = std::vector<std::string>;

// A 12.5 kg, B 2 kg net, C a Greek text, D off range, F empty (centre of zero); E polled, absent.
scalesim::NetworkOptions scales() {
  scalesim::NetworkOptions o{
      .addresses = {'A', 'B', 'C', 'D', 'F'}, .movingWeights = false, .faults = {}, .setups = {}};
  o.setups['A'].load = 12.5;
  o.setups['B'].load = 3;
  o.setups['B'].tare = 1;
  o.setups['C'].text = "\xD6\xD5\xC3\xCF\xD3";  // "ΦΥΓΟΣ" in Windows-1253
  o.setups['D'].load = 180;
  o.setups['F'].load = 0;
  return o;
}

// One log line for the scales above, all polled (line 8 "111111"), and one without B.
const std::string kStamp = "2026-12-06;12:00:00;";
const std::string kAfterB = "\xD6\xD5\xC3\xCF\xD3 ;G;;Off Range;G;;;G;;0.00 kg;G;o;\r\n";
const std::string kFullLine = kStamp + "12.50 kg;G;;2.00 kg;N;;" + kAfterB;

class WeighingTest : public ::testing::Test, public AppOnSim {
 protected:
  WeighingTest() : AppOnSim(scales(), "111111") { tk.advance(1000); }  // all have answered

  void ticks(int n) { tk.advance(25 * n); }
  OneUnit& unit() { return app->oneUnit(); }
  WeightLog& log() { return app->weightLog(); }
  const PanelView& panel(int i) { return app->monitor().panel(i).view; }
  void startLog(const std::string& name, const std::string& interval) {
    tk.inputAnswers = {name, interval};
    app->mWLog_Click();
  }
  int lines(const std::string& name) const {
    return static_cast<int>(std::ranges::count(fileText(name), '\n'));
  }

  const std::string file = path("weights.log");
};

TEST_F(WeighingTest, MirrorFollowsTheSelectedPanelWithinOneTickAndEmptiesForAll) {
  for (const char* address : {"C", "D", "F", "E", "B"}) {  // E never answered
    ASSERT_TRUE(unit().selectScale(address));
    ticks(1);
    EXPECT_EQ(unit().view().display, panel(address[0] - 'A')) << address;
  }
  ASSERT_TRUE(unit().selectScale("@"));
  ticks(1);
  EXPECT_EQ(unit().view().display, (PanelView{"", false, false, panel(1).motionText}));
  for (const char* bad : {"", "?", "_", "AB"}) EXPECT_FALSE(unit().selectScale(bad)) << bad;
}

TEST_F(WeighingTest, WithoutALogTheMirrorRestsYetShowsEveryNewWeightAtOnce) {
  ASSERT_TRUE(unit().selectScale("A"));
  tk.advance(1000);
  EXPECT_TRUE(unit().timer1Resting());
  sim.network().setLoad('A', 13.0, sim.nowUs());
  while (panel(0).text == "12.50 kg") tk.advance(5);
  EXPECT_EQ(unit().view().display, panel(0));
  ASSERT_TRUE(unit().selectScale("B"));
  EXPECT_EQ(unit().view().display, panel(1));
  startLog(file, "0");
  EXPECT_FALSE(unit().timer1Resting());
  app->mWLog_Click();  // stops the log
  ticks(1);
  EXPECT_TRUE(unit().timer1Resting());
}

// The buttons queue for the selection (OneUnitWindow); here "@" with two of them, as it leaves.
TEST_F(WeighingTest, ButtonsQueueForTheSelectionAndUnitAndStepChangeOnlyLaterReplies) {
  ASSERT_TRUE(unit().selectScale("@"));
  unit().Command2_Click();  // zero, every scale
  unit().Command3_Click();  // gross replaces it before it leaves
  ASSERT_TRUE(unit().selectScale("A"));
  unit().Command1_Click();  // pounds
  unit().setStep("20");
  EXPECT_EQ(panel(0).text, "12.50 kg");
  tk.advance(1000);
  EXPECT_EQ(panel(0).text, "27.60 lb");
  EXPECT_EQ(commandsSent(), Texts{"@G"});
}

TEST_F(WeighingTest, ClosedMonitorComesBackEmptyAtItsNextUseAndOnlyA1IsPolled) {
  int loads = 0;
  app->monitor().onLoad = [&] { ++loads; };
  app->monitor().unload();
  app->state().ScanList[0] = 0;  // A no longer polled
  app->state().ScanList[1] = 2;  // a hand-edited 2 shows enabled, but only a 1 is polled
  tk.advance(25);                // the next tick of the mirror, or a scan step, loads it again
  EXPECT_EQ(std::tuple(loads, app->monitor().panel(0).addressEnabled,
                       app->monitor().panel(1).addressEnabled),
            std::tuple(1, false, true));
  tk.advance(1000);  // C is shown again; nothing refills A and B
  EXPECT_EQ(std::tuple(panel(0).text, panel(1).text, panel(2).text.empty()),
            std::tuple("", "", false));
}

// "@" pauses the lines; "Logging ..." hides 500 ms after the last. A control character is "?".
TEST_F(WeighingTest, LogLinesHoldEveryPolledScaleAndFollowPollingAndTheSelection) {
  startLog(file, "0");
  ticks(1);
  EXPECT_EQ(fileText(file), kFullLine);
  app->monitor().toggleScan(1);
  ticks(1);
  ASSERT_TRUE(unit().selectScale("@"));
  ticks(19);
  EXPECT_TRUE(unit().view().loggingVisible);
  ticks(1);
  EXPECT_FALSE(unit().view().loggingVisible);
  ASSERT_TRUE(unit().selectScale("A"));
  app->monitor().toggleScan(1);
  ticks(1);
  EXPECT_EQ(fileText(file), kFullLine + kStamp + "12.50 kg;G;;" + kAfterB + kFullLine);
  app->mWLog_Click();
  EXPECT_EQ(std::tuple(log().LogActive(), tk.messages),
            std::tuple(false, Texts{"Weight Log Finished"}));

  writeIni("2");  // logged, but not polled: nothing replaces the text below
  start();
  app->monitor().DispWeight(0, std::string("\x41") + "\r\n;\x01\xFF" + "A");
  startLog(file, "0");
  ticks(1);
  EXPECT_EQ(fileText(file), kStamp + "??;?\xFF" + "A;G;;\r\n");
}

// The name offered is the current folder's, in the system's text whatever the folder is called.
TEST_F(WeighingTest, TheLogFileIsNamedAsTheSystemSpellsItAndWrittenInTheCodePage) {
  const std::filesystem::path before = std::filesystem::current_path();
  const std::string here = path("W\u00e4gung-\u0396\u03cd\u03b3\u03b9\u03c3\u03b7");
  std::filesystem::create_directory(filePath(here));
  std::filesystem::current_path(filePath(here));
  const std::string offered = here + (kOnWindows ? "\\" : "/") + "TRV4W.Log";
  startLog(offered, "0");  // the default, accepted
  ticks(1);
  std::filesystem::current_path(before);
  EXPECT_EQ(
      std::pair(tk.inputBoxes.at(0), fileText(offered)),
      std::pair(VirtualToolkit::InputBox{"Log File Name", "Weight Log", offered, true}, kFullLine));
}

// 2.5 and 3.5 s halve to the even 2 and 4 s; a non-number is continuous; a log replaces the file.
TEST_F(WeighingTest, IntervalsCountTicksRoundingHalvesToEven) {
  for (const auto& [answer, secondLineAt] :
       {std::pair<std::string, int>{"2.5", 82}, {"3.5", 162}, {std::string(5000, 'x'), 2}}) {
    startLog(file, answer);
    ticks(secondLineAt - 1);
    EXPECT_EQ(lines(file), 1) << answer.substr(0, 5);
    ticks(1);
    EXPECT_EQ(lines(file), 2) << answer.substr(0, 5);
    ticks(log().LogCountdown());  // spent: the next log writes at its first tick
    app->mWLog_Click();
  }
}

// A pipe nobody reads must not hang the program; on Windows, a file held without sharing.
TEST_F(WeighingTest, BadAnswersAndUnwritableFilesNeverStartALog) {
  const std::string unwritable = path(kOnWindows ? "held.log" : "fifo");
  std::ofstream(file) << "an older log";
  const std::pair<Texts, Texts> cases[] = {
      {{"", "0"}, {}},
      {{file, "-0.6"}, {}},  // rounds to -1
      {{file, "1e12"}, {"LOG INTERVAL TOO LARGE"}},
      {{unwritable, "0"}, {"CAN NOT WRITE LOG FILE"}},
  };
#ifdef _WIN32
  const int holder =
      _wsopen(filePath(unwritable).c_str(), _O_CREAT | _O_RDWR, _SH_DENYRW, _S_IREAD | _S_IWRITE);
  ASSERT_GE(holder, 0);
#else
  ASSERT_EQ(mkfifo(unwritable.c_str(), 0600), 0);
#endif
  for (const auto& [answers, messages] : cases) {
    tk.messages.clear();
    tk.inputAnswers = {answers.begin(), answers.end()};
    app->mWLog_Click();
    EXPECT_EQ(std::tuple(tk.messages, log().LogActive()), std::tuple(messages, false))
        << answers[0] << " / " << answers[1].substr(0, 10);
    ticks(2);
  }
#ifdef _WIN32
  _close(holder);
#endif
  EXPECT_EQ(fileText(file), "an older log");
}

// The program never waits on the log (a reader who stopped reading), and no write may kill it.
TEST_F(WeighingTest, AWriteThatFailsOrWouldBlockStopsTheLogAndSaysSo) {
#ifdef _WIN32
  GTEST_SKIP() << "needs /dev/full and a named pipe, which Windows has not";
#else
  const std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto expectStopped = [&](const std::string& name, const std::function<void()>& then) {
    tk.messages.clear();
    bool active = false;
    log().onActiveChanged = [&](bool now) { active = now; };
    startLog(name, "0");
    const bool started = active;
    ticks(1);
    then();
    for (int i = 0; i < 1000 && log().LogActive(); ++i) ticks(1);
    ticks(5);
    EXPECT_EQ(std::tuple(started, active, log().LogActive(), tk.messages),
              std::tuple(true, false, false, Texts{"CAN NOT WRITE LOG FILE - Weight Log Stopped"}))
        << name;
  };
  alarm(30);  // a write that blocks ends the test program
  expectStopped("/dev/full", [] {});
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  expectStopped(fifo, [&] { close(reader); });  // the reader goes away
  reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  expectStopped(fifo, [&] { fcntl(reader, F_SETPIPE_SZ, 4096); });  // full within a few dozen lines
  alarm(0);
  close(reader);
#endif
}

}  // namespace
}  // namespace trv4::test
