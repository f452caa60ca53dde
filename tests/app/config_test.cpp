// The configuration file, and the settings dialog's logic whose OK rewrites it.
#include <gmock/gmock.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

#include "app/comm_settings_model.h"
#include "app/config.h"
#include "tests/support/file_text.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

using Ints = std::vector<int>;
using Texts = std::vector<std::string>;
using Model = CommSettingsModel;

std::string quoted(const Texts& lines, const std::string& end = "\r\n") {
  std::string text;
  for (const std::string& line : lines) text += "\"" + line + "\"" + end;
  return text;
}

const Ints kDefaultTimings{50, 300, 100, 100, 20};

// What the program took: port, open, settings, timings, line 8's digits less trailing zeros.
using Read = std::tuple<int, bool, std::string, Ints, std::string>;

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() {
    port.existingPorts = {1, 2, 3};
    port.setSettings("9600,N,8,1");
  }
  ~ConfigTest() override { std::filesystem::remove(path); }

  Read read() const {
    std::string digits;
    for (int i = 0; i < kMaxScales; ++i) digits += static_cast<char>('0' + state.ScanList[i]);
    return {port.commPort(), port.portOpen(), port.settings(),
            Ints{state.StatusReplyTimeout, state.CommandReplyTimeout, state.StatusScanDelay,
                 state.CommandScanDelay, state.CharTimeout},
            digits.erase(digits.find_last_not_of('0') + 1)};
  }

  const std::string path = ::testing::TempDir() + "TRV4-" + std::to_string(::getpid()) + ".INI";
  test::VirtualToolkit toolkit;
  test::SimSerialPort port{toolkit};
  LinkState state;
  Configuration config{state, port, toolkit, path};
  Model model{port, toolkit, [this] { config.SaveSettings(); }};
};

TEST_F(ConfigTest, WritesTheDefaultFileAndValuesInFullAndAFailedSaveKeepsTheOldFile) {
  config.SaveSettings();
  EXPECT_EQ(test::fileText(path),
            quoted({"1 ' port nr 1,2,3,4", "9600,N,8,1", "0050  ' wait status responce STX",
                    "0300  ' wait Command responce stx",
                    "0100  ' wait for next scan if this scan is a status",
                    "0100  ' wait for next scan if this scan is a command",
                    "0020  ' wait character reception",
                    "111111110000000000000000000000  ' Scales To Scan"}));
  // A two-digit port and a five-digit time are written in full (read by position: see below).
  ASSERT_FALSE(port.setCommPort(12));
  ASSERT_FALSE(port.setSettings("115200,O,8,2"));
  state.StatusReplyTimeout = 12345;
  config.SaveSettings();
  EXPECT_TRUE(test::fileText(path).starts_with(
      quoted({"12 ' port nr 1,2,3,4", "115200,O,8,2", "12345  ' wait status responce STX"})));

  const std::string before = test::fileText(path);
  config.replaceFile = [](const std::string&, const std::string&) { return false; };
  state.CommandReplyTimeout = 400;
  config.SaveSettings();
  EXPECT_EQ(
      std::tuple(test::fileText(path), toolkit.messages, std::filesystem::exists(path + ".tmp")),
      std::tuple(before, Texts{"CAN NOT WRITE INI FILE"}, false));
}

// Each line read by position; the port was 3 with 4800,O,8,1, and a missing one stays closed.
TEST_F(ConfigTest, ReadsAnyFileByPosition) {
  const Texts hand = {"2 ' port", "9600,E,7,1", "+050", "0.4",
                      "0.5",      "9999",       "1e4",  "1-1+1 1\xCE\xB1\x31"};
  const Read fromHand(2, true, "9600,E,7,1", {50, 0, 1, 9999, 20}, "1010101001");
  const auto but = [&](int port, const Ints& timings, const std::string& flags = "11111111") {
    return Read(port, port >= 1 && port <= 3, "4800,O,8,1", timings, flags);
  };
  // clang-format off
  const std::pair<std::string, Read> cases[] = {
      // Each digit keeps its value, a non-digit is 0; a short line 8 switches the rest off.
      {quoted({"2", "9600,N,8,1", "0050", "0300", "0100", "0100", "0020", "120191x1"}), {2, true, "9600,N,8,1", kDefaultTimings, "12019101"}},
      // What cannot be a time in ms (negative, huge) keeps the value it had.
      {quoted({" 2", "9600,E,7,1", "-050", " 7 7", "9e99", "1e3", "", "1"}), {0, false, "9600,E,7,1", {50, 77, 100, 1000, 0}, "1"}},
      {quoted({"4", "fast please", "0011"}), but(4, {11, 300, 100, 100, 20})},
      {"\"2 ' port\"\n\"9600,N,8,1\"\n\"0070", {2, true, "9600,N,8,1", {70, 300, 100, 100, 20}, "11111111"}},
      {"", {3, true, "4800,O,8,1", kDefaultTimings, "11111111"}},
      {quoted(Texts(8, "2" + std::string(5000, '1'))), but(2, Ints(5, 2111), "211111111111111111111111111111")},
      {quoted(hand), fromHand},
      {"\xEF\xBB\xBF" + quoted(hand), fromHand},
      // A blank line is a line: everything after it moves up one.
      {"\r\n" + quoted(hand), but(0, {9600, 50, 0, 1, 9999}, "104")},
      // A sign as a port or scale digit is 0; a timing below 0 is kept, -0 is 0.
      {quoted({"-", "9600,N,8,1 ", "-0", "-0.4", "-0.6", "  ", "\xCE\xB1", "-+ 1"}), but(0, {0, 300, 100, 0, 0}, "0001")},
  };
  // clang-format on
  for (const auto& [file, expected] : cases) {
    state = LinkState();
    port.setPortOpen(false);
    port.setCommPort(3);
    port.setSettings("4800,O,8,1");
    std::ofstream(path, std::ios::binary) << file;
    EXPECT_TRUE(config.LoadSettings());
    EXPECT_EQ(read(), expected) << file.substr(0, 30);
  }
  EXPECT_TRUE(toolkit.messages.empty());
}

// Ports 1 to 5 are tried; none working ends the program, and no file is written.
TEST_F(ConfigTest, MissingFileProbesForTheLowestWorkingPort) {
  port.existingPorts = {1, 2, 4, 5};
  port.busyPorts = {1};
  state.StatusReplyTimeout = 999;
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(read(), Read(2, true, "9600,N,8,1", kDefaultTimings, "11111111"));
  port.setPortOpen(false);
  port.existingPorts = {6};
  EXPECT_FALSE(config.LoadSettings());
  EXPECT_EQ(std::tuple(toolkit.messages, port.portOpen(), std::filesystem::exists(path)),
            std::tuple(Texts{"INI FILE MISSING", "INI FILE MISSING", "No Serial Port Available"},
                       false, false));
}

TEST_F(ConfigTest, SettingsDialogOkAppliesTheChoiceReportsFailuresAndRunsTheRest) {
  ASSERT_FALSE(port.setSettings("300,N,8,1"));  // no option shows 300 baud
  port.setPortOpen(true);
  model.load();
  model.click(Model::ComPortGroup, 3);  // Com4 does not exist
  model.click(Model::FlowGroup, 2);
  model.ok();
  ASSERT_EQ(toolkit.messages.size(), 2u);  // and the baud rate left unmarked
  EXPECT_EQ(
      toolkit.messages[0],
      "Can not open port 4: " + portErrorText({.code = PortFailureCode::kNoDevice, .port = 4}));
  EXPECT_EQ(std::tuple(port.closes, port.portOpen(), port.handshaking()), std::tuple(1, false, 2));
  EXPECT_THAT(test::fileText(path),
              ::testing::StartsWith("\"4 ' port nr 1,2,3,4\"\r\n\"300,N,8,1\"\r\n"));

  toolkit.messages.clear();
  model.click(Model::ComPortGroup, 1);  // Com2
  model.click(Model::BaudGroup, 4);     // 9600
  model.ok();
  EXPECT_EQ(std::pair(toolkit.messages.size(), port.portOpen()), std::pair(size_t{0}, true));
}

}  // namespace
}  // namespace trv4
