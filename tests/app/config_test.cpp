#include "app/config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <vector>

#include "tests/app/temp_dir.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

using test::readBytes;
using test::writeBytes;

// The file as written for port 1, 9600,N,8,1, the default timings and scales A to H.
const std::string kDefaultFile =
    "\"1 ' port nr 1,2,3,4\"\r\n"
    "\"9600,N,8,1\"\r\n"
    "\"0050  ' wait status responce STX\"\r\n"
    "\"0300  ' wait Command responce stx\"\r\n"
    "\"0100  ' wait for next scan if this scan is a status\"\r\n"
    "\"0100  ' wait for next scan if this scan is a command\"\r\n"
    "\"0020  ' wait character reception\"\r\n"
    "\"111111110000000000000000000000  ' Scales To Scan\"\r\n";

std::vector<int> scanFlags(const LinkState& state) {
  return std::vector<int>(state.ScanList.begin(), state.ScanList.begin() + kMaxScales);
}

std::vector<int> flagsFrom(const std::string& digits) {
  std::vector<int> flags(kMaxScales, 0);
  for (std::size_t i = 0; i < digits.size() && i < flags.size(); ++i) flags[i] = digits[i] - '0';
  return flags;
}

const std::vector<int> kScalesAtoH = flagsFrom("11111111");

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() { port.existingPorts = {1, 2, 3}; }

  std::vector<int> timings() const {
    return {state.StatusReplyTimeout, state.CommandReplyTimeout, state.StatusScanDelay,
            state.CommandScanDelay, state.CharTimeout};
  }

  test::TempDir dir;
  test::VirtualToolkit toolkit;
  test::SimSerialPort port{toolkit};
  LinkState state;
  std::string path = dir.file("TRV4.INI");
  Configuration config{state, port, toolkit, path};
};

TEST_F(ConfigTest, WritesTheDefaultFileByteForByte) {
  ASSERT_FALSE(port.setSettings("9600,N,8,1"));
  config.SaveSettings();
  EXPECT_EQ(readBytes(path), kDefaultFile);
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(ConfigTest, ReadsBackWhatItWrote) {
  ASSERT_FALSE(port.setCommPort(3));
  ASSERT_FALSE(port.setSettings("19200,O,8,2"));
  state.StatusReplyTimeout = 7;
  state.CommandReplyTimeout = 4567;
  state.StatusScanDelay = 0;
  state.CommandScanDelay = 250;
  state.CharTimeout = 9999;
  state.ScanList.fill(0);
  for (int i = 0; i < kMaxScales; i += 3) state.ScanList[i] = 1;
  const std::vector<int> expectedFlags = scanFlags(state);
  config.SaveSettings();

  test::SimSerialPort freshPort{toolkit};
  freshPort.existingPorts = {1, 2, 3};
  LinkState freshState;
  Configuration reader(freshState, freshPort, toolkit, path);
  EXPECT_TRUE(reader.LoadSettings());

  EXPECT_EQ(freshPort.commPort(), 3);
  EXPECT_TRUE(freshPort.portOpen());
  EXPECT_EQ(freshPort.settings(), "19200,O,8,2");
  EXPECT_EQ((std::vector<int>{freshState.StatusReplyTimeout, freshState.CommandReplyTimeout,
                              freshState.StatusScanDelay, freshState.CommandScanDelay,
                              freshState.CharTimeout}),
            (std::vector<int>{7, 4567, 0, 250, 9999}));
  EXPECT_EQ(scanFlags(freshState), expectedFlags);
  EXPECT_TRUE(toolkit.messages.empty());
}

TEST_F(ConfigTest, LongValuesAreWrittenInFullButReadByPosition) {
  port.existingPorts.insert(12);
  ASSERT_FALSE(port.setCommPort(12));
  state.StatusReplyTimeout = 12345;
  config.SaveSettings();
  const std::string text = readBytes(path);
  EXPECT_EQ(text.substr(0, 22), "\"12 ' port nr 1,2,3,4\"");
  EXPECT_NE(text.find("\"12345  ' wait status responce STX\"\r\n"), std::string::npos);

  port.setCommPort(5);
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.commPort(), 1);  // the first digit of 12
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(state.StatusReplyTimeout, 1234);  // the first four digits of 12345
}

// Files written by hand: what each line gives when read by position.
struct ReadCase {
  const char* name;
  std::string file;
  int port;
  std::vector<int> timings;
  std::vector<int> flags;
};

std::string lines(std::initializer_list<const char*> contents, const char* end = "\r\n") {
  std::string text;
  for (const char* content : contents) text += std::string("\"") + content + "\"" + end;
  return text;
}

class ConfigReadTest : public ConfigTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ConfigReadTest, ReadsValuesByPosition) {
  const ReadCase& c = GetParam();
  writeBytes(path, c.file);
  port.setCommPort(3);
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.commPort(), c.port);
  EXPECT_EQ(timings(), c.timings);
  EXPECT_EQ(scanFlags(state), c.flags);
  EXPECT_TRUE(toolkit.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    HandEditedFiles, ConfigReadTest,
    ::testing::Values(
        ReadCase{"DigitsOtherThanOneSwitchOff",
                 lines({"2", "9600,N,8,1", "0050", "0300", "0100", "0100", "0020",
                        "120191x111111111111111111111110"}),
                 2,
                 {50, 300, 100, 100, 20},
                 flagsFrom("100101011111111111111111111111")},
        ReadCase{"ShortLine8SwitchesTheRestOff",
                 lines({"1", "9600,N,8,1", "0050", "0300", "0100", "0100", "0020", "011"}),
                 1,
                 {50, 300, 100, 100, 20},
                 flagsFrom("011")},
        ReadCase{"BlanksAndNonNumbers",
                 lines({" 2", "9600,N,8,1", "50  ", " 7 7", "abcd", "", "0020",
                        "11111111111111111111111111111111111"}),
                 0,
                 {50, 77, 0, 0, 20},
                 std::vector<int>(kMaxScales, 1)},
        ReadCase{"LoneLineFeedsAndCarriageReturns",
                 lines({"3", "9600,N,8,1", "0001", "0002", "0003", "0004", "0005", "1"}, "\n"),
                 3,
                 {1, 2, 3, 4, 5},
                 flagsFrom("1")},
        ReadCase{"CarriageReturnsOnly",
                 lines({"2", "9600,N,8,1", "0001", "0002", "0003", "0004", "0005", "01"}, "\r"),
                 2,
                 {1, 2, 3, 4, 5},
                 flagsFrom("01")},
        // What cannot be a time in ms keeps the value it had.
        ReadCase{"NegativeOrHugeTimingsAreSkipped",
                 lines({"1", "9600,N,8,1", "-050", "9e99", "1e3", "12.6", "0020", "1"}),
                 1,
                 {50, 300, 1000, 13, 20},
                 flagsFrom("1")},
        ReadCase{"CutShortKeepsTheRest",
                 std::string("\"2 ' port\"\r\n\"9600,N,8,1\"\r\n\"0070"),
                 2,
                 {70, 300, 100, 100, 20},
                 kScalesAtoH},
        ReadCase{"EmptyFile", "", 3, {50, 300, 100, 100, 20}, kScalesAtoH}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(ConfigTest, SettingsTextSurvivesAWriteAndReadCycle) {
  for (const char* settings : {"9600,E,7,1", "115200,O,8,2", "600,N,7,2"}) {
    SCOPED_TRACE(settings);
    ASSERT_FALSE(port.setSettings(settings));
    config.SaveSettings();
    ASSERT_FALSE(port.setSettings("2400,N,8,1"));
    port.setPortOpen(false);
    config.LoadSettings();
    EXPECT_EQ(port.settings(), settings);
  }
}

TEST_F(ConfigTest, RefusedSettingsTextLeavesThePortsSettingsAndReadingGoesOn) {
  ASSERT_FALSE(port.setSettings("4800,O,8,1"));
  writeBytes(path, lines({"2", "fast please", "0011", "0300", "0100", "0100", "0020", "1"}));
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.settings(), "4800,O,8,1");
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(state.StatusReplyTimeout, 11);
  EXPECT_TRUE(toolkit.messages.empty());
}

TEST_F(ConfigTest, FileNamingAMissingPortStartsQuietlyWithThePortClosed) {
  writeBytes(path, kDefaultFile);
  port.existingPorts = {2};
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.commPort(), 1);
  EXPECT_FALSE(port.portOpen());
  EXPECT_EQ(port.settings(), "9600,N,8,1");
  EXPECT_TRUE(toolkit.messages.empty());
}

TEST_F(ConfigTest, MissingFileProbesForTheLowestWorkingPort) {
  port.existingPorts = {1, 2, 4, 5};
  port.busyPorts = {1};
  state.StatusReplyTimeout = 999;
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(toolkit.messages, std::vector<std::string>{"INI FILE MISSING"});
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(port.opens, 4);  // ports 5, 4, 2 probed, then 2 for good
  EXPECT_EQ(port.settings(), "9600,E,7,1");
  EXPECT_EQ(timings(), (std::vector<int>{50, 300, 100, 100, 20}));
  EXPECT_EQ(scanFlags(state), kScalesAtoH);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ConfigTest, MissingFileAndNoPortEndsTheProgram) {
  port.existingPorts = {6};
  EXPECT_FALSE(config.LoadSettings());
  EXPECT_EQ(toolkit.messages,
            (std::vector<std::string>{"INI FILE MISSING", "No Serial Port Available"}));
  EXPECT_FALSE(port.portOpen());
}

// A failed save shows the message and leaves the old file as it was, with nothing beside it.
TEST_F(ConfigTest, FailedSaveKeepsTheOldFile) {
  const std::string old = kDefaultFile;
  ASSERT_FALSE(port.setCommPort(2));

  {
    SCOPED_TRACE("temporary file cannot be created");
    writeBytes(path, old);
    std::filesystem::create_directory(path + ".tmp");
    config.SaveSettings();
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(toolkit.messages, std::vector<std::string>{"CAN NOT WRITE INI FILE"});
    std::filesystem::remove(path + ".tmp");
  }
  {
    SCOPED_TRACE("rename fails");
    toolkit.messages.clear();
    config.replaceFile = [](const std::string&, const std::string&) { return false; };
    config.SaveSettings();
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(toolkit.messages, std::vector<std::string>{"CAN NOT WRITE INI FILE"});
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  }
  {
    SCOPED_TRACE("folder does not exist");
    toolkit.messages.clear();
    Configuration nowhere(state, port, toolkit, dir.file("missing/TRV4.INI"));
    nowhere.SaveSettings();
    EXPECT_EQ(toolkit.messages, std::vector<std::string>{"CAN NOT WRITE INI FILE"});
  }
}

// Files that are not configuration files at all are read by the same rules without harm.
TEST_F(ConfigTest, ReadsGarbageFilesSafely) {
  std::mt19937 random(4711);
  std::string binary(4096, '\0');
  for (char& c : binary) c = static_cast<char>(random() & 0xff);
  const std::string longLine(1 << 22, '7');  // 4 MiB without a line end
  std::string longLines;
  for (int i = 0; i < 8; ++i) longLines += "\"2" + std::string(5000, '1') + "\"\r\n";

  for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
           {"binary", binary}, {"one huge line", longLine}, {"long lines", longLines}}) {
    SCOPED_TRACE(name);
    port.setPortOpen(false);
    writeBytes(path, bytes);
    EXPECT_TRUE(config.LoadSettings());
    EXPECT_TRUE(toolkit.messages.empty());
    for (int t : timings()) {
      EXPECT_GE(t, 0);
      EXPECT_LE(t, 9999);
    }
  }
  // The long lines still give their values by position; their line 2 is too long to be a
  // settings text and is skipped.
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_EQ(timings(), (std::vector<int>{2111, 2111, 2111, 2111, 2111}));
  EXPECT_EQ(scanFlags(state), flagsFrom("011111111111111111111111111111"));
  EXPECT_EQ(port.settings(), "9600,E,7,1");
}

}  // namespace
}  // namespace trv4
