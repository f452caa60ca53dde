// Parameter files against simulated scales in virtual time.
#include "service/param_file.h"

#include <gtest/gtest.h>

#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

class ParamFileTest : public ::testing::Test, public AppOnSim {
 protected:
  ParamFileTest()
      : AppOnSim({.addresses = {'A', 'B'}, .movingWeights = false, .faults = {}, .setups = {}},
                 "11") {
    tk.advance(500);
    param = &app->openParam();
  }
  void upload(const char* scale) {
    app->oneUnit().selectScale(scale);
    param->UploadParam();
  }
  Param* param = nullptr;
};

// A file saved from A and edited as if saved on a 19200 7E1 line, loaded into B's window on this
// 9600 8N1 line: B takes A's settings but keeps how it talks on the line, where this line would
// never hear it otherwise.
TEST_F(ParamFileTest, SettingsOfOneScaleGoToAnotherWhichKeepsHowItTalksOnTheLine) {
  // Scale A set apart from the defaults: two decimals, a 4 mV/V gain, three load cells, setpoints,
  // tilt.
  scalesim::ScaleState& a = *sim.scale('A');
  for (const auto& [key, value] : std::map<std::string, std::string>{
           {"p3", "210100"}, {"p1", "413012"}, {"q1", "01234"}, {"q2", "00777"}, {"s1", "17000"}})
    a.params[key] = value;
  upload("A");
  std::string text = paramFileText(*param, "2026-12-06 14:03:59");
  EXPECT_EQ(text.find("PIN"), text.find("PIN LOCK"));  // the PIN itself is never written
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"Scale = A", "Scale = A"},
                                 {"Baud Rate = 9600", "Baud Rate = 19200"},
                                 {"Parity/Data Bits = N8", "Parity/Data Bits = E7"},
                                 {"Setpoint1 = 01234", "Setpoint1 = 00321"}}) {
    ASSERT_NE(text.find("\n" + from + "\n"), std::string::npos) << from;
    text.replace(text.find(from), from.size(), to);
  }
  std::string error;
  const std::optional<ParamFile> file = parseParamFile(text, &error);
  ASSERT_TRUE(file) << error;

  upload("B");
  const std::size_t writesBefore = port.writes.size();
  loadParamFile(*param, *file);
  EXPECT_EQ(port.writes.size(), writesBefore);  // loading sends nothing
  EXPECT_EQ(param->value("vScaleAddr"), "B");   // the window keeps its scale's address
  param->Command3_Click();
  param->Command4_Click();  // writes the setpoints and the scale's line settings
  upload("B");
  std::vector<std::string> differences;
  for (const ParamDifference& d : compareParamFile(*param, *file))
    differences.push_back(d.caption + (d.loaded ? "" : " (kept)") + ": " + d.window + " / " +
                          d.file);
  EXPECT_EQ(differences, (std::vector<std::string>{"Baud Rate (kept): 9600 / 19200",
                                                   "Parity/Data Bits (kept): N8 / E7"}));
  const scalesim::ScaleState& b = *sim.scale('B');
  for (const char* p : {"p1", "p3", "q2", "s1"}) EXPECT_EQ(b.params.at(p), a.params.at(p)) << p;
  EXPECT_EQ(b.params.at("q1"), "00321");
  EXPECT_EQ(b.params.at("s2"), "B9608");  // address B, 9600, N8: this line
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
}

TEST_F(ParamFileTest, AMalformedFileIsRefusedWithItsLineAndChangesNothing) {
  upload("A");
  const std::string good = paramFileText(*param, "2026-12-06 14:03:59");
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const std::pair<std::string, std::string> cases[] = {
      {"", "empty"},
      {std::string("TRV-4 parameters\nDecimal\0 Point = 2\n", 34), "binary"},
      {good.substr(0, good.rfind('\n', good.size() / 2) + 1), "cut short"},
      {"[mqtt]\nenabled=false\n", "not a parameter file"},
      {replaced("Decimal Point = ", "Decimal Point = 9"), "Line 5 \"Decimal Point = 9"},
      {replaced("Setpoint1 = ", "Setpoint1 = 1234567"), "longer than 5"},
      {replaced("Setpoint2", "Colour"), "\"Colour\" is no parameter"},
      {replaced("Tilt mode", "Setpoint1"), "given twice"},
      {replaced("Dual Digital Filter = no", "Dual Digital Filter = maybe"), "neither yes nor no"},
      {replaced("Weighing Range = 99", "Weighing Range = \x01"), "control characters"},
      {std::string(kParamFileLimit + 1, 'x'), "too large"},
  };
  for (const auto& [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(parseParamFile(text, &error)) << expected;
    EXPECT_NE(error.find(expected), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(readParamFile(path("none.txt"), &error));
  EXPECT_NE(error.find("Can not read"), std::string::npos);
}

}  // namespace
}  // namespace trv4::test
