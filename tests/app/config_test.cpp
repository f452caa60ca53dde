#include "app/config.h"

#include <gtest/gtest.h>

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
using Ints = std::vector<int>;

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
const Ints kDefaultTimings{50, 300, 100, 100, 20};

Ints flagsFrom(const std::string& digits) {
  Ints flags(kMaxScales, 0);
  for (std::size_t i = 0; i < digits.size(); ++i) flags[i] = digits[i] - '0';
  return flags;
}

std::string quotedLines(std::initializer_list<const char*> contents, const char* end = "\r\n") {
  std::string text;
  for (const char* content : contents) text += std::string("\"") + content + "\"" + end;
  return text;
}

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() { port.existingPorts = {1, 2, 3}; }

  Ints timings() const {
    return {state.StatusReplyTimeout, state.CommandReplyTimeout, state.StatusScanDelay,
            state.CommandScanDelay, state.CharTimeout};
  }
  Ints flags() const { return Ints(state.ScanList.begin(), state.ScanList.begin() + kMaxScales); }

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
  ASSERT_FALSE(port.setSettings("115200,O,8,2"));
  state.StatusReplyTimeout = 7;
  state.CommandReplyTimeout = 4567;
  state.StatusScanDelay = 0;
  state.CharTimeout = 9999;
  for (int i = 0; i < kMaxScales; ++i) state.ScanList[i] = i % 3 == 0;
  const Ints written = flags();
  config.SaveSettings();

  ASSERT_FALSE(port.setCommPort(1));
  ASSERT_FALSE(port.setSettings("2400,N,8,1"));
  state.ScanList.fill(0);
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.commPort(), 3);
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(port.settings(), "115200,O,8,2");
  EXPECT_EQ(timings(), (Ints{7, 4567, 0, 100, 9999}));
  EXPECT_EQ(flags(), written);
}

TEST_F(ConfigTest, LongValuesAreWrittenInFullButReadByPosition) {
  ASSERT_FALSE(port.setCommPort(12));
  state.StatusReplyTimeout = 12345;
  config.SaveSettings();
  const std::string text = readBytes(path);
  EXPECT_EQ(text.rfind("\"12 ' port nr 1,2,3,4\"\r\n", 0), 0u);
  EXPECT_NE(text.find("\"12345  ' wait status responce STX\"\r\n"), std::string::npos);

  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.commPort(), 1);
  EXPECT_EQ(state.StatusReplyTimeout, 1234);
}

// Files edited by hand or cut short: what each line gives when read by position.
struct ReadCase {
  const char* name;
  std::string file;
  int port;
  Ints timings;
  Ints flags;
};

class ConfigReadTest : public ConfigTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ConfigReadTest, ReadsValuesByPosition) {
  const ReadCase& c = GetParam();
  writeBytes(path, c.file);
  port.setCommPort(3);
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.commPort(), c.port);
  EXPECT_EQ(timings(), c.timings);
  EXPECT_EQ(flags(), c.flags);
  EXPECT_TRUE(toolkit.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    HandEditedFiles, ConfigReadTest,
    ::testing::Values(
        // Only a 1 polls; a short line 8 switches the missing scales off.
        ReadCase{
            "OtherDigitsAndShortScanLine",
            quotedLines({"2", "9600,N,8,1", "0050", "0300", "0100", "0100", "0020", "120191x1"}), 2,
            kDefaultTimings, flagsFrom("10010101")},
        // What cannot be a time in ms (negative, huge) keeps the value it had.
        ReadCase{"BlanksAndOddNumbers",
                 quotedLines({" 2", "9600,N,8,1", "-050", " 7 7", "9e99", "1e3", "", "1"}),
                 0,
                 {50, 77, 100, 1000, 0},
                 flagsFrom("1")},
        ReadCase{"CarriageReturnsOnly",
                 quotedLines({"2", "x", "0001", "0002", "0003", "0004", "0005", "01"}, "\r"),
                 2,
                 {1, 2, 3, 4, 5},
                 flagsFrom("01")},
        ReadCase{"CutShort",
                 "\"2 ' port\"\n\"9600,N,8,1\"\n\"0070",
                 2,
                 {70, 300, 100, 100, 20},
                 flagsFrom("11111111")},
        ReadCase{"Empty", "", 3, kDefaultTimings, flagsFrom("11111111")}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(ConfigTest, RefusedSettingsOrMissingPortFromTheFileGoUnreported) {
  ASSERT_FALSE(port.setSettings("4800,O,8,1"));
  writeBytes(path, quotedLines({"2", "fast please", "0011"}));
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.settings(), "4800,O,8,1");
  EXPECT_EQ(state.StatusReplyTimeout, 11);
  EXPECT_TRUE(port.portOpen());

  port.setPortOpen(false);
  port.existingPorts = {2};
  writeBytes(path, kDefaultFile);
  EXPECT_TRUE(config.LoadSettings());
  EXPECT_EQ(port.commPort(), 1);
  EXPECT_FALSE(port.portOpen());
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
  EXPECT_EQ(port.opens, 4);  // 5, 4 and 2 probed, then 2 for good
  EXPECT_EQ(timings(), kDefaultTimings);
  EXPECT_EQ(flags(), flagsFrom("11111111"));

  toolkit.messages.clear();
  port.setPortOpen(false);
  port.existingPorts = {6};
  EXPECT_FALSE(config.LoadSettings());
  EXPECT_EQ(toolkit.messages,
            (std::vector<std::string>{"INI FILE MISSING", "No Serial Port Available"}));
  EXPECT_FALSE(port.portOpen());
}

TEST_F(ConfigTest, FailedSaveKeepsTheOldFile) {
  writeBytes(path, kDefaultFile);
  ASSERT_FALSE(port.setCommPort(2));
  std::filesystem::create_directory(path + ".tmp");  // the new file cannot be created
  config.SaveSettings();
  std::filesystem::remove(path + ".tmp");
  config.replaceFile = [](const std::string&, const std::string&) { return false; };
  config.SaveSettings();

  EXPECT_EQ(readBytes(path), kDefaultFile);
  EXPECT_EQ(toolkit.messages, std::vector<std::string>(2, "CAN NOT WRITE INI FILE"));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(ConfigTest, ReadsGarbageFilesSafely) {
  std::mt19937 random(4711);
  std::string binary(4096, '\0');
  for (char& c : binary) c = static_cast<char>(random() & 0xff);
  std::string longLines;
  for (int i = 0; i < 8; ++i) longLines += "\"2" + std::string(5000, '1') + "\"\r\n";
  for (const std::string& bytes : {binary, std::string(1 << 22, '7'), longLines}) {
    port.setPortOpen(false);
    writeBytes(path, bytes);
    EXPECT_TRUE(config.LoadSettings());
    for (int t : timings()) EXPECT_TRUE(t >= 0 && t <= 9999) << t;
  }
  // Long lines still give their values by position; line 2 is too long to be a settings text.
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_EQ(timings(), Ints(5, 2111));
  EXPECT_EQ(flags(), flagsFrom("011111111111111111111111111111"));
  EXPECT_EQ(port.settings(), "9600,E,7,1");
  EXPECT_TRUE(toolkit.messages.empty());
}

}  // namespace
}  // namespace trv4
