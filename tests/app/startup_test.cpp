// Start-up of the program without its windows: the configuration file, the first scan step and
// the Commands menu.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/application.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

// With the usual timings and scales A..H polled, the first request goes out 100 ms after loading;
// the Commands menu queues for the selected address, or all.
TEST(StartupTest, FirstRequestGoesToScaleAOneHundredMillisecondsAfterLoadAndCommandsQueue) {
  const std::string ini = ::testing::TempDir() + "trv4-startup-" + std::to_string(getpid());
  std::ofstream(ini, std::ios::binary) << "\"1\"\r\n\"9600,N,8,1\"\r\n\"0050\"\r\n\"0300\"\r\n"
                                          "\"0100\"\r\n\"0100\"\r\n\"0020\"\r\n\"11111111\"\r\n";
  VirtualToolkit tk;
  SimSerialPort port{tk};
  Application app(port, tk, ini);
  const bool loaded = app.MDIForm_Load();
  std::filesystem::remove(ini);
  ASSERT_TRUE(loaded);
  const LinkState& s = app.state();
  tk.advance(99);
  EXPECT_TRUE(port.writes.empty());
  tk.advance(1);
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0].bytes, "\x02\x41\x3F\x30\x34\x3C\x03");
  EXPECT_TRUE(tk.messages.empty());

  app.displaySettings().SingleScale = "B";
  app.mReset_Click();
  EXPECT_EQ(s.CommandQueue[1], "R");
  app.displaySettings().SingleScale = "@";
  app.mAck_Click();
  EXPECT_EQ(s.CommandQueue[kBroadcastSlot], "\x06");
}

}  // namespace
}  // namespace trv4::test
