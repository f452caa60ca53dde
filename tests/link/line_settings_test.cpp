#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "link/port_device.h"
#include "link/port_settings.h"

namespace trv4 {
namespace {

TEST(ParseLineSettings, AcceptsWellFormedTexts) {
  std::string error;
  const auto s = parseLineSettings("115200,o,7,2", &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(std::tie(s->baud, s->parity, s->dataBits, s->stopBits), std::tuple(115200, 'O', 7, 2));
  EXPECT_TRUE(parseLineSettings("9600,N,8,1", &error)) << error;
  EXPECT_TRUE(parseLineSettings("600,e,8,1", &error)) << error;
}

TEST(ParseLineSettings, RefusesMalformedTextsNamingThem) {
  for (const char* text :
       {"", "9600,N,8", "9600,N,8,1,", ",N,8,1", "9600,N,,1", "abc,N,8,1", "-9600,N,8,1", "0,N,8,1",
        "9601,N,8,1", "99999999999,N,8,1", "9600,X,8,1", "9600,NN,8,1", "9600,N,9,1", "9600,N,8,3",
        "9600,N,8,1.5", " 9600,N,8,1", "9600;N;8;1"}) {
    std::string error;
    EXPECT_FALSE(parseLineSettings(text, &error)) << text;
    EXPECT_NE(error.find(text), std::string::npos) << text;
  }
}

// ./COMn comes first, even when its target is gone: opening it then fails visibly.
TEST(PortDevice, LocalLinkComesFirst) {
  namespace fs = std::filesystem;
  const fs::path old = fs::current_path();
  const fs::path dir = fs::temp_directory_path() / ("link_port_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::current_path(dir);
  fs::create_symlink("/dev/null", dir / "COM1");
  fs::create_symlink(dir / "missing", dir / "COM2");
  EXPECT_EQ(portDevice(1), (dir / "COM1").string());
  EXPECT_EQ(portDevice(2), (dir / "COM2").string());
  fs::current_path(old);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace trv4
