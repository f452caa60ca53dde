// Start-up of the program without its windows: the shared state, the configuration file, the
// first scan step, and the menu commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/application.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

namespace fs = std::filesystem;
using test::SimSerialPort;
using test::VirtualToolkit;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("trv4-startup-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string iniPath() const { return (dir_ / "TRV4.INI").string(); }

  void writeIni(const std::string& line8) {
    std::ofstream out(iniPath(), std::ios::binary);
    for (const char* line :
         {"1 ' port nr 1,2,3,4", "9600,N,8,1", "0050  ' wait status responce STX",
          "0300  ' wait Command responce stx",
          "0100  ' wait for next scan if this scan is a status",
          "0100  ' wait for next scan if this scan is a command",
          "0020  ' wait character reception"}) {
      out << '"' << line << "\"\r\n";
    }
    out << '"' << line8 << "  ' Scales To Scan\"\r\n";
  }

  fs::path dir_;
  VirtualToolkit toolkit_;
  SimSerialPort port_{toolkit_};
};

TEST_F(StartupTest, NoFileAndNoPortEndsTheProgramAfterBothMessages) {
  port_.existingPorts.clear();
  Application app(port_, toolkit_, iniPath());

  EXPECT_FALSE(app.MDIForm_Load());
  EXPECT_EQ(toolkit_.messages,
            (std::vector<std::string>{"INI FILE MISSING", "No Serial Port Available"}));
  EXPECT_EQ(app.link(), nullptr);
  toolkit_.advance(1000);
  EXPECT_TRUE(port_.writes.empty());
  EXPECT_FALSE(fs::exists(iniPath()));
}

TEST_F(StartupTest, FirstRequestGoesToScaleAOneHundredMillisecondsAfterLoad) {
  writeIni("111111110000000000000000000000");
  Application app(port_, toolkit_, iniPath());
  ASSERT_TRUE(app.MDIForm_Load());

  LinkState& s = app.state();
  EXPECT_EQ(s.ScanIndex, 29);
  for (int i = 0; i < kMaxScales; ++i) EXPECT_EQ(s.DisplayHold[i], 50);
  for (int i = 0; i < kMailboxCount; ++i) {
    EXPECT_TRUE(s.CommandQueue[i].empty() && s.CommandReply[i].empty() && s.StatusReply[i].empty());
  }
  ASSERT_NE(app.link(), nullptr);
  EXPECT_TRUE(app.link()->BlockTimer().enabled());
  EXPECT_EQ(app.link()->BlockTimer().interval(), 100);
  EXPECT_FALSE(app.link()->CharTimer().enabled());
  EXPECT_EQ(app.link()->CharTimer().interval(), 5000);
  EXPECT_TRUE(port_.portOpen());

  toolkit_.advance(99);
  EXPECT_TRUE(port_.writes.empty());
  toolkit_.advance(1);
  ASSERT_EQ(port_.writes.size(), 1u);
  EXPECT_EQ(port_.writes[0].at, 100);
  EXPECT_EQ(port_.writes[0].bytes, std::string("\x02\x41\x3F\x30\x34\x3C\x03"));
  EXPECT_TRUE(toolkit_.messages.empty());
}

TEST_F(StartupTest, ScaleAOffInTheFileMeansTheFirstRequestGoesToTheNextPolledScale) {
  writeIni("001000000000000000000000000000");
  Application app(port_, toolkit_, iniPath());
  ASSERT_TRUE(app.MDIForm_Load());
  toolkit_.advance(100);
  ASSERT_EQ(port_.writes.size(), 1u);
  EXPECT_EQ(port_.writes[0].bytes[1], 'C');
  EXPECT_FALSE(app.monitor().panel(0).addressEnabled);
  EXPECT_TRUE(app.monitor().panel(2).addressEnabled);
}

TEST_F(StartupTest, CommandsMenuQueuesForTheSelectedAddressOrAll) {
  writeIni("111111110000000000000000000000");
  Application app(port_, toolkit_, iniPath());
  ASSERT_TRUE(app.MDIForm_Load());

  app.displaySettings().SingleScale = "B";
  app.mReset_Click();
  EXPECT_EQ(app.state().CommandQueue[1], "R");
  app.displaySettings().SingleScale = "@";
  app.mAck_Click();
  EXPECT_EQ(app.state().CommandQueue[kBroadcastSlot], "\x06");
  app.mSYNC_Click();  // replaces the waiting ACK
  EXPECT_EQ(app.state().CommandQueue[kBroadcastSlot], "\x10");

  EXPECT_FALSE(app.singleScaleChecked());
  app.mSingleScale_Click();
  EXPECT_TRUE(app.singleScaleChecked());
  app.mSingleScale_Click();
  EXPECT_FALSE(app.singleScaleChecked());
}

}  // namespace
}  // namespace trv4
