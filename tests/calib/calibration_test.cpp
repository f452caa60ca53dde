// The calibration procedures against simulated scales in virtual time: an operator answers each
// prompt from a script, and the commands are checked on the line as frame bodies.
#include "calib/calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <ranges>
#include <string_view>

#include "service/calib_record.h"
#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

using Texts = std::vector<std::string>;
using Procedure = void (Calib::*)();

constexpr int64_t kLimit = 121 * kCalibTimerInterval;  // 30.25 s

constexpr Procedure WZero = &Calib::WZeroCalib, WSpan = &Calib::WSpanCalib,
                    WCorner = &Calib::WCornerCalib, EZero = &Calib::EZeroCalib,
                    ESpan = &Calib::ESpanCalib, ECorner = &Calib::ECornerCalib;

class CalibTest : public ::testing::Test, public AppOnSim {
 protected:
  // A and B polled; C on the line but left out of the cycle.
  CalibTest()
      : AppOnSim({.addresses = {'A', 'B', 'C'}, .movingWeights = false, .faults = {}, .setups = {}},
                 "11") {
    for (char a : {'A', 'B', 'C'}) sim.network().setLoad(a, 20, 0);
    tk.advance(1000);
    app->oneUnit().selectScale("B");
    calib = &app->calib();
    calib->onChanged = [this] {
      const CalibView& v = calib->view();
      if (v.startVisible && (prompts.empty() || prompts.back() != v.askLbl))
        prompts.push_back(v.askLbl);
      if (v.askLbl == "Please Wait ..." && v.pbarValue == 0) waitAt = tk.now();
    };
    // The line holds tens of thousands of polls in a run: commands are kept as they come.
    sim.network().onFrame = [this](const scalesim::ReceivedFrame& f) {
      if (f.bytes.substr(2, 2) == "?0") return;
      if (sent.empty()) firstSentAt = f.atUs / 1000;
      lastSentAt = f.atUs / 1000;
      sent += (sent.empty() ? "" : " ") + f.bytes.substr(1, f.bytes.size() - 4);
    };
    operate();
  }
  ~CalibTest() override { calib = nullptr; }

  // Every half second, with Start showing: the next scripted answer typed afresh, Start clicked.
  void operate() {
    tk.schedule(tk.now() + 500, [this] {
      if (!calib) return;
      if (calib->view().startVisible && !answers.empty()) {
        calib->setAskTxt("");
        for (char k : answers.front())
          if (calib->AskTxt_KeyPress(k)) calib->setAskTxt(calib->view().askTxt + k);
        answers.pop_front();
        calib->StartCmd_Click();
      }
      operate();
    });
  }
  // Runs a procedure with the answers given, by '|' (none: Start never clicked), and a second more.
  void run(Procedure p, const char* keyed = nullptr) {
    answers.clear();
    std::string script = keyed ? keyed : "";
    std::ranges::replace(script, '/', '|');
    for (auto part : std::views::split(std::string_view(script), '|'))
      answers.emplace_back(part.begin(), part.end());
    if (keyed && answers.empty()) answers.emplace_back();
    sent.clear();
    startedAt = tk.now();
    (calib->*p)();
    closedAt = tk.now();
    queuedAtClose = app->state().CommandQueue[scaleIndex(app->displaySettings().SingleScale)];
    EXPECT_EQ(calib->view(), CalibView{});  // closed
    tk.advance(1000);
  }
  // The calibration record's lines so far, each as "scale|procedure|keyed|outcome".
  Texts records() const {
    Texts lines;
    for (const auto& f : readCalibRecord(path(kCalibRecordFileName)))
      lines.push_back(f.size() == 8 ? f[2] + "|" + f[3] + "|" + f[4] + "|" + f[5] : "malformed");
    return lines;
  }
  int polls(char address, int64_t sinceMs) const {
    int n = 0;
    for (const auto& f : sim.received())
      n += f.atUs >= sinceMs * 1000 && f.bytes.substr(1, 3) == std::string(1, address) + "?0";
    return n;
  }

  Calib* calib = nullptr;  // the program's own
  std::deque<std::string> answers;
  Texts prompts;
  std::string sent, queuedAtClose;  // sent: the command frames' bodies since the run began
  int64_t startedAt = 0, firstSentAt = -1, lastSentAt = -1, waitAt = -1, closedAt = -1;
};

// Each row runs a procedure on the scale its command goes to. C is on the line and D is not;
// neither is polled, so each is served only while a procedure runs on it and is left out of the
// cycle again afterwards. What a procedure queues as it ends leaves before it closes.
TEST_F(CalibTest, ProceduresSendWhatFitsFollowTheScaleAndRecordHowTheyEnded) {
  const struct {
    Procedure proc;
    char scale;  // L: calibration locked, R: error 90, 1: one corner, S: corner 2 never asked for
    // keyed: '/' after an answer refused with "Wrong input data"; they show each procedure's width
    const char *keyed, *sent;
    const char* record;           // the calibration record's keyed numbers|outcome
    const char* message = "";     // nullptr: closed by the time limit
    const char* asked = nullptr;  // the corners asked for, when checked
  } cases[] = {
      {WZero, 0, "", "Ba", "|finished"},
      {WSpan, 0, "abc/123456/1", "Bb00001", "00001|finished"},
      {EZero, 0, "0/1234567/999999", "BA999999", "999999|finished"},
      {ESpan, 0, "123456/ 12 ", "BB00012", "00012|finished"},
      {WZero, 'L', "", "Ca C\x06", "|Calibration Lock", "Calibration Lock"},
      {ESpan, 0, "5000", "DB05000", "05000|finished"},  // no scale answers
      {WCorner, 0, "||||", "Bc0 Bc1 Bc2 Bc3 Bc4", "|finished", "", "-1234"},
      {WCorner, 'S', "|||", "Bc0 Bc1 Bc3 Bc4", "|finished", "", "-134"},
      {ECorner, 0, "2712|002712|1000|999999", "BC1002712 BC2002712 BC3001000 BC4999999",
       "002712 002712 001000 999999|finished", "", "1234"},
      {WSpan, 'R', "100", "Bb00100 B\x06", "00100|Not Enought Resolution",
       "Not Enought Resolution"},
      {WCorner, 'R', "", "Bc0", "|time limit", nullptr},
      {ECorner, 'L', "2712", "BC1002712 B\x06", "002712|Calibration Lock", "Calibration Lock"},
      {ECorner, '1', "2712", "BC1002712", "002712|time limit", nullptr},  // a weight after corner 1
      {ECorner, 0, "2712|50", "BC1002712 BC2000050 B\x06", "002712 000050|Not Enough Resolution",
       "Not Enough Resolution"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    const char address = c.sent[0];
    app->oneUnit().selectScale(std::string(1, address));
    if (scalesim::ScaleState* s = sim.scale(address)) {
      s->zeroOffset = 0;  // the load counts again after a zero calibration
      s->span = 1;
      s->display.clear();
      s->calLock = c.scale == 'L';
      s->calError = c.scale == 'R' ? 90 : 0;
      s->corners = c.scale == '1' ? 1 : 4;
      s->skipCorner = c.scale == 'S' ? 2 : 0;
    }
    tk.messages.clear();
    prompts.clear();
    run(c.proc, c.keyed);
    EXPECT_EQ(sent, c.sent);
    Texts messages(std::ranges::count(std::string_view(c.keyed), '/'), "Wrong input data");
    if (c.message && *c.message) messages.push_back(c.message);
    EXPECT_EQ(tk.messages, messages);
    const std::string record = records().back();  // names: the tests below
    EXPECT_EQ(record.substr(record.find('|', 2) + 1), c.record);
    EXPECT_LE(lastSentAt, closedAt);  // closed once the command had left
    EXPECT_EQ(queuedAtClose, "");
    // A weight zero or span closes at the first weight after the scale's working text (0.8 s).
    const bool weight = (c.proc == WZero || c.proc == WSpan) && c.message && !*c.message;
    const int64_t took = closedAt - (weight ? firstSentAt : waitAt);
    EXPECT_TRUE(!c.message ? took == kLimit
                : weight   ? took >= 800 && took < 1200
                           : took < 2000)
        << took;
    if (address != 'B') {
      EXPECT_EQ(polls(address, closedAt + 200), 0);
      EXPECT_GT(polls('A', closedAt + 200), 0);
    }
    if (!c.asked) continue;
    std::string asked;  // the corner of each prompt, "-" where it names none
    for (const std::string& text : prompts)
      asked += text.find("Corner ") == text.npos ? '-' : text[text.find("Corner ") + 7];
    EXPECT_EQ(asked, c.asked);
  }
}

TEST_F(CalibTest, TheRecordTellsHowEachProcedureEndedAndAFailedWriteOnlyOnce) {
  const std::string shown = app->monitor().panel(1).view.text;
  ASSERT_FALSE(shown.empty());
  tk.schedule(tk.now() + 2000, [this] { app->quitting(); });
  run(WZero);  // the operator never clicks Start
  tk.schedule(tk.now() + 2000, [this] { calib->close(); });
  run(WSpan);
  port.unplug();  // the electronic zero cannot leave: the wait for it is bounded, it is taken back
  run(EZero, "2712");
  EXPECT_EQ(closedAt - waitAt, kCalibSendLimit);
  EXPECT_EQ(queuedAtClose, "");
  port.plugIn();

  // A scale that stays busy: Stop ends the watch at its next pass.
  sim.network().workingTextUs = 60'000'000;
  const int64_t stopAt = tk.now() + 3000;
  tk.schedule(stopAt, [this] { calib->StopCmd_Click(); });
  run(WZero, "");
  EXPECT_EQ(closedAt, stopAt);

  // The port goes away while the scale asks for corner 1: the corner command cannot leave, and
  // the time limit still ends the wait, taking the command back.
  sim.network().workingTextUs = 800'000;
  sim.scale('B')->corners = 4;
  prompts.clear();
  std::function<void()> unplugAtCorner = [&] {
    if (prompts.size() == 2) return port.unplug();
    tk.schedule(tk.now() + 10, unplugAtCorner);
  };
  unplugAtCorner();
  run(WCorner, "|");
  EXPECT_EQ(sent, "Bc0");
  EXPECT_EQ(queuedAtClose, "");
  port.plugIn();
  EXPECT_EQ(
      records(),
      (Texts{"B|Weight Zero Calibration||program ended", "B|Weight Span Calibration||window closed",
             "B|Electronic Zero Calibration|002712|not sent", "B|Weight Zero Calibration||stopped",
             "B|Weight Corner Calibration||time limit"}));
  const auto rows = readCalibRecord(path(kCalibRecordFileName));
  // The date, and the weight before and after as the monitor showed it.
  EXPECT_EQ(std::tie(rows[0][0], rows[0][6], rows[0][7]), std::tie(tk.dateTextValue, shown, shown));

  // The file cannot be written: told once, however many procedures follow.
  const std::string file = path(kCalibRecordFileName);
  std::filesystem::rename(file, file + ".kept");  // Windows keeps the name of a removed open file
  std::filesystem::create_directory(file);
  tk.messages.clear();
  for (int i = 0; i < 2; ++i) {
    tk.schedule(tk.now() + 1000, [this] { calib->close(); });
    run(WZero);
  }
  EXPECT_EQ(tk.messages, Texts{kCalibRecordWriteError});
}

TEST_F(CalibTest, ASecondCalibrationOrAParameterExchangeIsRefusedAndClosingSendsNothing) {
  // "@" does nothing at all, also while a procedure or a parameter exchange waits.
  tk.schedule(tk.now() + 100, [this] {
    app->oneUnit().selectScale("@");
    calib->EZeroCalib();
    app->oneUnit().selectScale("B");
    EXPECT_TRUE(tk.messages.empty());
    calib->WCornerCalib();
    EXPECT_EQ(tk.messages, Texts{kCalibBusyMessage});
    calib->close();
  });
  run(WSpan);
  EXPECT_EQ(sent, "");

  // A parameter exchange and a calibration never run inside each other's waits.
  tk.messages.clear();
  tk.schedule(tk.now() + 100, [this] {
    app->openParam().UploadParam();
    calib->close();
  });
  run(WSpan);
  EXPECT_EQ(tk.messages, Texts{kCalibBusyMessage});
  EXPECT_EQ(sent, "");
  EXPECT_EQ(app->param()->value("vSetp1"), "");

  tk.messages.clear();
  tk.schedule(tk.now() + 10, [this] { calib->WZeroCalib(); });
  app->param()->UploadParam();
  EXPECT_EQ(tk.messages, Texts{kParamBusyMessage});
  EXPECT_FALSE(calib->running());
  EXPECT_EQ(app->param()->value("vSetp1"), "00000");
  app->closeParam();
}

}  // namespace
}  // namespace trv4::test
