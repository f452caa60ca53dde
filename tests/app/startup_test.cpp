// Start-up of the program without its windows: the configuration file, the first scan step and
// the Commands menu.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/application.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

namespace fs = std::filesystem;

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() { fs::create_directories(dir_); }
  ~StartupTest() override { fs::remove_all(dir_); }

  const fs::path dir_ = fs::temp_directory_path() / ("trv4-startup-" + std::to_string(getpid()));
  const std::string ini_ = (dir_ / "TRV4.INI").string();
  VirtualToolkit tk_;
  SimSerialPort port_{tk_};
};

TEST_F(StartupTest, NoFileAndNoPortEndsTheProgramAfterBothMessages) {
  port_.existingPorts.clear();
  Application app(port_, tk_, ini_);
  EXPECT_FALSE(app.MDIForm_Load());
  EXPECT_EQ(tk_.messages,
            (std::vector<std::string>{"INI FILE MISSING", "No Serial Port Available"}));
  tk_.advance(1000);
  EXPECT_TRUE(port_.writes.empty());
  EXPECT_FALSE(fs::exists(ini_));
}

// With the usual timings and scales A..H polled, the first request goes out 100 ms after loading;
// the Commands menu queues for the selected address, or all.
TEST_F(StartupTest, FirstRequestGoesToScaleAOneHundredMillisecondsAfterLoadAndCommandsQueue) {
  {
    std::ofstream out(ini_, std::ios::binary);
    for (const char* line : {"1", "9600,N,8,1", "0050", "0300", "0100", "0100", "0020",
                             "111111110000000000000000000000"}) {
      out << '"' << line << "\"\r\n";
    }
  }
  Application app(port_, tk_, ini_);
  ASSERT_TRUE(app.MDIForm_Load());
  const LinkState& s = app.state();
  EXPECT_EQ(std::count(s.DisplayHold.begin(), s.DisplayHold.end(), 50), kMaxScales);
  tk_.advance(99);
  EXPECT_TRUE(port_.writes.empty());
  tk_.advance(1);
  ASSERT_EQ(port_.writes.size(), 1u);
  EXPECT_EQ(port_.writes[0].bytes, "\x02\x41\x3F\x30\x34\x3C\x03");
  EXPECT_TRUE(tk_.messages.empty());

  app.displaySettings().SingleScale = "B";
  app.mReset_Click();
  EXPECT_EQ(s.CommandQueue[1], "R");
  app.displaySettings().SingleScale = "@";
  app.mAck_Click();
  EXPECT_EQ(s.CommandQueue[kBroadcastSlot], "\x06");
}

}  // namespace
}  // namespace trv4::test
