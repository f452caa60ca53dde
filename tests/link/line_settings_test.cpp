#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "base/platform.h"
#include "link/port_device.h"
#include "link/port_failure.h"
#include "link/port_settings.h"

namespace trv4 {
namespace {

TEST(ParseLineSettings, ReadsWellFormedTextsAndRefusesOthersNamingThem) {
  std::string error;
  const auto s = parseLineSettings("115200,o,7,2", &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(std::tie(s->baud, s->parity, s->dataBits, s->stopBits), std::tuple(115200, 'O', 7, 2));
  for (const char* text : {"110,e,8,1", "921600,N,7,1", "9600,E,8,2"})
    EXPECT_TRUE(parseLineSettings(text, &error)) << text << ": " << error;
  for (const char* text :
       {"", "9600,N,8", "9600,N,8,1,", "abc,N,8,1", "9601,N,8,1", "109,N,8,1", "1843200,N,8,1",
        "9600,NN,8,1", "9600,N,9,1", "9600,N,6,1", "9600,N,8,3", "9600,N,8,0", " 9600,N,8,1"}) {
    error.clear();
    EXPECT_FALSE(parseLineSettings(text, &error)) << text;
    EXPECT_NE(error.find(text), std::string::npos) << text;
  }
}

namespace fs = std::filesystem;

// A scratch folder stands in for the current folder ("local") and for /dev ("dev").
TEST(PortDevice, LocalLinkThenUsbThenSerialThenAcm) {
  if (kOnWindows) GTEST_SKIP() << "Windows names ports \\\\.\\COMn (WindowsPortNames)";
  const fs::path root = fs::temp_directory_path() / ("trv4-devices-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "local");
  fs::create_directories(root / "dev");
  const DeviceFolders f{(root / "local").string(), (root / "dev").string()};
  auto device = [&](const char* name) { std::ofstream(root / "dev" / name).put('\0'); };
  auto dev = [&](const char* name) { return (root / "dev" / name).string(); };
  EXPECT_EQ(std::pair(portDevice(1, f), portDeviceText(1, f)),
            std::pair(std::string(), std::string("no device on this machine")));
  for (const char* name : {"ttyACM0", "ttyS0", "ttyUSB0"}) {  // each one before the one before
    device(name);
    EXPECT_EQ(std::pair(portDevice(1, f), portDeviceText(1, f)), std::pair(dev(name), dev(name)));
  }
  EXPECT_EQ(portDevice(2, f), "");  // numbers map one to one: port 2 is ...1
  device("ttyACM1");
  EXPECT_EQ(std::pair(portDevice(2, f), portDevice(0, f)),
            std::pair(dev("ttyACM1"), std::string()));

  // ./COMn comes first, even when its target is gone: opening it then fails visibly.
  fs::create_symlink("/dev/null", root / "local" / "COM1");
  fs::create_symlink(root / "missing", root / "local" / "COM2");
  EXPECT_EQ(portDevice(1, f), (root / "local" / "COM1").string());
  EXPECT_EQ(portDevice(2, f), (root / "local" / "COM2").string());
  EXPECT_EQ(portDeviceText(1, f), "./COM1 -> /dev/null");
  // A character device may be tried; what is no serial device is named when opened.
  EXPECT_EQ(deviceProblem(1, "/dev/null"), std::nullopt);
  fs::remove_all(root);
}

TEST(PortErrorText, WordsEachCode) {
  using C = PortFailureCode;
  const std::string dev = "/dev/ttyUSB0";
  const std::pair<PortFailure, std::string> cases[] = {
      {{.code = C::kOpenWhileChoosing}, "The port is open: close it before choosing another"},
      {{.code = C::kAlreadyOpen, .port = 2}, "Port 2 is already open"},
      {{.code = C::kNoDevice, .port = 4}, "Port 4 does not exist"},
      {{.code = C::kDeviceMissing, .port = 1, .device = dev},
       "Port 1 (/dev/ttyUSB0): it does not exist"},
      {{.code = C::kLinkDangling, .port = 1, .device = "./COM1"},
       "Port 1 (./COM1): the link points to nothing that exists"},
      {{.code = C::kDeviceIsFolder, .port = 1, .device = dev},
       "Port 1 (/dev/ttyUSB0): it is a folder, not a serial device"},
      {{.code = C::kNotSerialDevice, .port = 1, .device = dev},
       "Port 1 (/dev/ttyUSB0): it is not a serial device"},
      {{.code = C::kOpenRefused, .port = 3, .device = dev, .detail = "Device or resource busy"},
       "Port 3 (/dev/ttyUSB0): Device or resource busy"},
      {{.code = C::kSettingsMalformed, .settings = "9600,X,8,1", .detail = "parity X"},
       "Settings \"9600,X,8,1\": parity X"},
      {{.code = C::kSettingsRefused, .settings = "9600,E,7,1", .detail = "Invalid argument"},
       "Settings \"9600,E,7,1\": Invalid argument"},
      {{.code = C::kHandshakingOutOfRange, .handshaking = 4}, "Handshaking 4 is not 0 to 3"},
      {{.code = C::kHandshakingRefused, .handshaking = 2},
       "Handshaking: the device does not take them"},
  };
  for (const auto& [failure, text] : cases) EXPECT_EQ(portErrorText(failure), text);
  if (kOnWindows) return;  // a refusal there speaks of another program (WindowsPortNames)
  // One this user may not open names the group to join.
  EXPECT_EQ(
      portErrorText({.code = C::kPermissionDenied, .port = 1, .device = dev, .group = "dialout"}),
      "Port 1 (/dev/ttyUSB0): this user may not open it. Add the user to the group "
      "\"dialout\" (for example: sudo usermod -aG dialout $USER), then log out and in again.");
  EXPECT_EQ(portErrorText({.code = C::kPermissionDenied, .port = 1, .device = dev}),
            "Port 1 (/dev/ttyUSB0): this user may not open it. Add the user to the group that "
            "owns it (for example: sudo usermod -aG dialout $USER), then log out and in again.");
}

// Windows: every port by its device name, so COM10 and above open too; the device is opened
// without looking first, and a refusal speaks of another program, not of groups.
TEST(PortDevice, WindowsPortNames) {
  if (!kOnWindows) GTEST_SKIP() << "Linux ports are devices under /dev or ./COMn links";
  EXPECT_EQ(portDevice(12), "\\\\.\\COM12");
  EXPECT_EQ(portDevice(1), "\\\\.\\COM1");
  EXPECT_EQ(portDevice(0), "");
  EXPECT_EQ(portDeviceText(12), "\\\\.\\COM12");
  EXPECT_EQ(deviceProblem(12, "\\\\.\\COM12"), std::nullopt);
  EXPECT_EQ(portErrorText(
                {.code = PortFailureCode::kPermissionDenied, .port = 12, .device = "\\\\.\\COM12"}),
            "Port 12 (\\\\.\\COM12): it is in use by another program, or access to it is "
            "denied. Close the program that has it open, then try again.");
}

}  // namespace
}  // namespace trv4
