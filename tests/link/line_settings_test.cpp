#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "link/port_device.h"
#include "link/port_settings.h"

namespace trv4 {
namespace {

TEST(ParseLineSettings, AcceptsWellFormedTexts) {
  const struct {
    const char* text;
    int baud;
    char parity;
    int data, stop;
  } table[] = {{"9600,N,8,1", 9600, 'N', 8, 1},
               {"19200,E,7,1", 19200, 'E', 7, 1},
               {"115200,o,8,2", 115200, 'O', 8, 2},
               {"600,e,7,2", 600, 'E', 7, 2}};
  for (const auto& row : table) {
    std::string error;
    const auto s = parseLineSettings(row.text, &error);
    ASSERT_TRUE(s) << row.text << ": " << error;
    EXPECT_EQ(s->baud, row.baud);
    EXPECT_EQ(s->parity, row.parity);
    EXPECT_EQ(s->dataBits, row.data);
    EXPECT_EQ(s->stopBits, row.stop);
  }
}

TEST(ParseLineSettings, RefusesMalformedTexts) {
  // clang-format off
  const char* const texts[] = {
      "", "9600", "9600,N,8", "9600,N,8,1,", "9600,N,8,1,0", ",N,8,1", "9600,,8,1", "9600,N,,1",
      "9600,N,8,", "abc,N,8,1", "-9600,N,8,1", "0,N,8,1", "9601,N,8,1", "99999999999,N,8,1",
      "9600,X,8,1", "9600,NN,8,1", "9600,N,9,1", "9600,N,8,3", "9600,N,8,1.5", " 9600,N,8,1",
      "9600;N;8;1"};
  // clang-format on
  for (const char* text : texts) {
    std::string error;
    EXPECT_FALSE(parseLineSettings(text, &error)) << text;
    EXPECT_NE(error.find(text), std::string::npos) << text;
  }
}

class PortDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    dir_ = std::filesystem::temp_directory_path() / ("link_port_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path old_, dir_;
};

TEST_F(PortDeviceTest, LocalLinkComesFirst) {
  std::ofstream(dir_ / "target").put('x');
  std::filesystem::create_symlink(dir_ / "target", dir_ / "COM7");
  EXPECT_EQ(portDevice(7), (dir_ / "COM7").string());
  // A link whose target is gone still names the port: opening it then fails visibly.
  std::filesystem::create_symlink(dir_ / "missing", dir_ / "COM8");
  EXPECT_EQ(portDevice(8), (dir_ / "COM8").string());
}

TEST_F(PortDeviceTest, PortNumbersBelowOneNameNoDevice) {
  std::filesystem::create_symlink(dir_ / "target", dir_ / "COM0");
  EXPECT_EQ(portDevice(0), "");
  EXPECT_EQ(portDevice(-3), "");
}

}  // namespace
}  // namespace trv4
