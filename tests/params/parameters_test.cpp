// The parameter window's logic on simulated scales in virtual time, checked on the line as bytes.
#include "params/parameters.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

using Texts = std::vector<std::string>;

// "name=text ..." as its pairs.
std::vector<std::pair<std::string, std::string>> pairs(const std::string& items) {
  std::istringstream in(items);
  std::vector<std::pair<std::string, std::string>> out;
  for (std::string item; in >> item;) {
    const size_t eq = item.find('=');
    out.emplace_back(item.substr(0, eq), item.substr(eq + 1));
  }
  return out;
}

class ParamTest : public ::testing::Test, public AppOnSim {
 protected:
  ParamTest()
      : AppOnSim({.addresses = {'A', 'B', 'C'}, .movingWeights = false, .faults = {}, .setups = {}},
                 "1110") {
    tk.advance(500);
    app->oneUnit().selectScale("B");
  }
  // The window opened afresh: the program's own parameter logic, uploading.
  Param& open() {
    app->closeParam();
    param = &app->openParam();
    param->UploadParam();
    return *param;
  }
  scalesim::ScaleState& scaleB() { return *sim.scale('B'); }
  // Sets "name=text ..." in the window.
  void set(const std::string& values) {
    for (const auto& [name, text] : pairs(values)) ASSERT_TRUE(param->setValue(name, text)) << name;
  }
  // "name=text ..." of the named fields, or of every field.
  std::string values(std::string names = "") const {
    if (names.empty())
      for (const ParamField& f : paramFields()) names += std::string(" ") + f.name;
    std::istringstream in(names);
    std::string out;
    for (std::string n; in >> n;) out += (out.empty() ? "" : " ") + n + "=" + param->value(n);
    return out;
  }

  Param* param = nullptr;
};

TEST_F(ParamTest, UploadFillsEveryControlFromTheScale) {
  auto& b = scaleB();
  // p1: conversions 3, gain 4mV/V, 4 cells, lb, filter 2, samples 1.
  for (const auto& [key, text] :
       pairs("s1=07000 p1=314121 p2=201505 p3=310100 q1=00123 q2=45678 f2=099876 i3=123456"))
    b.params[key] = text;
  b.calLock = true;
  b.auditCounter = 42;
  Param& p = open();
  EXPECT_TRUE(tk.messages.empty());
  EXPECT_EQ(values(),
            "vDecimalPoint=3 vResolution=20 vRange=15 vFilter=2 vMotionSamples=1 vInterval=05 "
            "vUnit=Lb vLcNo=4 vGain=4mV/V vConv=3 vATCounter=000042 vScaleAddr=B vBaud=9600 "
            "vDataBits=N8 vSetp1=00123 vSetp2=45678 vAZero=1 vPowerUpZero=0 vDualFilter=1 "
            "vLZero=0 vTiltMode=NO vTiltDelay=7 vPin= vCalLock=1 vPinLock=0");
  EXPECT_EQ(p.Corner(1), "099876");
  EXPECT_EQ(commandsSent(),
            (Texts{"Bd", "Bs1", "Bp1", "Bp2", "Bp3", "Bq1", "Bq2", "Bf1", "Bf2", "Bf3", "Bf4"}));
  p.Command1_Click();
  EXPECT_EQ(p.vInternal(3), "123456");
  EXPECT_FALSE(tk.busy());
}

TEST_F(ParamTest, DownloadsWriteFieldByFieldToOneScaleOrAllAndStoreAsks) {
  Param& p = open();
  set("vTiltMode=NC vTiltDelay=3 vResolution=05 vRange=5 vInterval=12 vDecimalPoint=1 vAZero=1 "
      "vLZero=1 vConv=2 vGain=4mV/V vLcNo=4 vFilter=2 vMotionSamples=2 vSetp1=123 vSetp2=99999 "
      "vScaleAddr=B vBaud=115200");
  const Texts written{"S113000", "P2050512", "P3110010", "P1214022",
                      "Q100123", "Q299999",  "S2B1108"};
  for (const char* to : {"B", "@"}) {
    app->oneUnit().selectScale(to);
    const size_t from = sim.received().size();
    if (*to == '@') p.Command2_Click();  // the upload does nothing for all scales
    p.Command3_Click();
    p.Command4_Click();
    Texts expected;
    for (const std::string& w : written) expected.push_back(to + w);
    EXPECT_EQ(commandsSent(from), expected);
  }
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
  tk.yesNoAnswers = {false, true};
  p.Command5_Click();
  EXPECT_EQ(app->state().CommandQueue[kBroadcastSlot], "");
  p.Command5_Click();
  EXPECT_EQ(app->state().CommandQueue[kBroadcastSlot], "W");
}

TEST_F(ParamTest, MalformedFieldsAreRefusedByNameAndNothingIsSent) {
  Param& p = open();
  const size_t from = sim.received().size();
  for (const char* bad : {"", "12a", "1.5"}) {
    ASSERT_TRUE(p.setValue("vSetp1", bad));
    p.Command4_Click();
  }
  ASSERT_TRUE(p.setValue("vRange", "x"));
  p.Command3_Click();
  p.Command6_Click();  // no PIN typed
  const char* setpoint1 = "Setpoint1 must be a whole number of 1 to 5 digits";
  EXPECT_EQ(tk.messages, (Texts{setpoint1, setpoint1, setpoint1,
                                "Weighing Range must be a whole number of 1 to 2 digits",
                                "Pin must be a whole number of 1 to 6 digits"}));
  EXPECT_TRUE(commandsSent(from).empty());
  // Typed text is held to the field's length; choice lists take only their entries.
  ASSERT_TRUE(p.setValue("vSetp2", "1234567"));
  EXPECT_EQ(p.value("vSetp2"), "12345");
  EXPECT_FALSE(p.setValue("vBaud", "4800"));
  EXPECT_FALSE(p.setValue("vUnit", "Lb"));
}

TEST_F(ParamTest, LockSendsThePinAndRereadsTheLockStateInEveryCase) {
  Param& p = open();
  set("vPin=42");
  p.Command9_Click();
  EXPECT_EQ(values("vPinLock vCalLock"), "vPinLock=1 vCalLock=0");
  set("vPin=41");  // the wrong PIN: refused, state re-read
  const size_t from = sim.received().size();
  p.Command6_Click();
  EXPECT_EQ(tk.messages, Texts{"Command not accepted"});
  EXPECT_EQ(commandsSent(from), (Texts{"BJ0000041", "Bd"}));
  EXPECT_EQ(p.value("vPinLock"), "1");
  scaleB().calLock = true;
  set("vPin=000042");
  p.Command6_Click();
  EXPECT_EQ(values("vPinLock vCalLock"), "vPinLock=0 vCalLock=1");
  EXPECT_EQ(tk.messages.size(), 1u);
}

TEST_F(ParamTest, RefusedReadsLeaveTheirControlsAndTheUploadStopsAtAMainOne) {
  using F = scalesim::ReplyFault;
  auto& b = scaleB();
  b.replies = {{"d", F::kShort}, {"s1", F::kWrong}, {"q1", F::kNak}};
  b.params["p2"] = "053201";
  b.calLock = b.pinLock = true;
  Param& p = open();
  EXPECT_EQ(tk.messages, Texts{"Wrong Data Received"});
  // "d" exactly 11 characters long is refused; "p2" came before the refused "q1".
  EXPECT_EQ(values("vATCounter vPinLock vTiltDelay vRange vSetp1 vDataBits"),
            "vATCounter= vPinLock=0 vTiltDelay= vRange=32 vSetp1= vDataBits=E7");
  EXPECT_EQ(p.Corner(0), "");

  // An over-long answer with bytes outside ASCII fills each control with what it may hold.
  b.replies.clear();
  b.params["p1"] = "\xC1\xFF" + std::string(300, '7');
  p.Command2_Click();
  EXPECT_EQ(p.value("vConv"), "\xC1");
  for (const ParamField& f : paramFields())
    EXPECT_LE(p.value(f.name).size(), f.maxLength ? f.maxLength : 6u) << f.name;

  // A scale left out of the cycle, and not on the line either, answers nothing.
  app->oneUnit().selectScale("D");
  Param& d = open();
  tk.messages.clear();
  d.Command1_Click();
  EXPECT_EQ(tk.messages, Texts{"No Responce"});
}

// The operator chooses "@", or another scale, as soon as an operation's first request reached B:
// every request of that operation still goes to B, and the new choice applies to the next one.
TEST_F(ParamTest, AnOperationStaysWithTheScaleChosenWhenItStarted) {
  Param& p = open();
  set("vPin=42");
  std::string next = "@";
  sim.network().onFrame = [&](const scalesim::ReceivedFrame& f) {
    if (f.bytes.substr(2, 2) != "?0") app->oneUnit().selectScale(next);
  };
  // Upload, internal resolution, both downloads, lock, unlock.
  for (auto operation : {&Param::Command2_Click, &Param::Command1_Click, &Param::Command3_Click,
                         &Param::Command4_Click, &Param::Command9_Click, &Param::Command6_Click}) {
    app->oneUnit().selectScale("B");
    const size_t from = sim.received().size();
    (p.*operation)();
    EXPECT_EQ(app->displaySettings().SingleScale, next);
    const Texts sent = commandsSent(from);
    EXPECT_GE(sent.size(), 2u);
    for (const std::string& c : sent) EXPECT_EQ(c[0], 'B') << c;
  }
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();

  // In single-scale mode the scale of a running operation stays served, also when it is not
  // polled: the upload gets every answer.
  app->state().ScanList[1] = 0;
  app->mSingleScale_Click();
  app->oneUnit().selectScale("B");
  scaleB().params["q2"] = "45678";
  next = "C";
  p.Command2_Click();
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
  EXPECT_EQ(p.value("vSetp2"), "45678");
}

}  // namespace
}  // namespace trv4::test
