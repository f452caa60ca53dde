// The Qt serial-port adapter against a real pseudo-terminal: device mapping, settings refusal,
// the receive event and a line that hangs up. Real time, bounded waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "link/qt_serial_port.h"

namespace trv4 {
namespace {

namespace fs = std::filesystem;

// Runs the event loop until done() holds or two seconds pass.
bool waitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 2000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

// A pseudo-terminal linked as ./COM1 in a fresh current directory.
class QtSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("trv4-qsp-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    fs::current_path(dir_);
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    fs::create_symlink(ptsname(master_), "COM1");
  }
  void TearDown() override {
    if (master_ >= 0) close(master_);
    fs::current_path(old_);
    fs::remove_all(dir_);
  }

  std::string readMaster() {
    std::string got;
    waitFor([&] {
      char buf[64];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      return !got.empty();
    });
    return got;
  }

  fs::path old_, dir_;
  int master_ = -1;
};

TEST_F(QtSerialPortTest, PortOneIsTheLinkInTheCurrentDirectory) {
  QtSerialPort port;
  EXPECT_FALSE(port.setCommPort(1));
  ASSERT_FALSE(port.setPortOpen(true));
  EXPECT_TRUE(port.portOpen());
  EXPECT_TRUE(port.setCommPort(2)) << "the number cannot change while the port is open";

  port.output(std::string("\x02\x41?04<\x03", 7));
  EXPECT_EQ(readMaster(), std::string("\x02\x41?04<\x03", 7));

  // RThreshold 0: bytes wait in the port without an event.
  int events = 0;
  port.setOnComm([&] { ++events; });
  ASSERT_EQ(write(master_, "ab", 2), 2);
  ASSERT_TRUE(waitFor([&] { return port.inBufferCount() == 2; }));
  EXPECT_EQ(events, 0);
  EXPECT_EQ(port.input(), "ab");

  port.setRThreshold(1);
  ASSERT_EQ(write(master_, "cd", 2), 2);
  ASSERT_TRUE(waitFor([&] { return events > 0; }));
  EXPECT_EQ(port.commEvent(), kCommEventReceive);
  EXPECT_EQ(port.input(), "cd");
}

TEST_F(QtSerialPortTest, RefusedSettingsKeepTheOldTextAndAMissingPortFailsToOpen) {
  QtSerialPort port;
  ASSERT_FALSE(port.setSettings("9600,N,8,1"));
  for (const char* bad : {"9600,X,8,1", "9600,N,9,1", "fast,N,8,1", "9600,N,8", ""}) {
    EXPECT_TRUE(port.setSettings(bad)) << bad;
  }
  EXPECT_EQ(port.settings(), "9600,N,8,1");
  EXPECT_TRUE(port.setHandshaking(4));

  ASSERT_FALSE(port.setCommPort(1));
  ASSERT_FALSE(port.setPortOpen(true));
  EXPECT_FALSE(port.setSettings("19200,N,8,1"));
  // A pseudo-terminal runs 8 bits without parity only: the refusal keeps the old text.
  const PortError refused = port.setSettings("19200,E,7,1");
  if (refused) {
    EXPECT_FALSE(refused->empty());
    EXPECT_EQ(port.settings(), "19200,N,8,1");
  } else {
    EXPECT_EQ(port.settings(), "19200,E,7,1");
  }
  EXPECT_FALSE(port.setHandshaking(2));
  ASSERT_FALSE(port.setPortOpen(false));

  // Port 60: no ./COM60, /dev/ttyUSB59 or /dev/ttyS59 on a test machine.
  ASSERT_FALSE(port.setCommPort(60));
  const PortError error = port.setPortOpen(true);
  ASSERT_TRUE(error);
  EXPECT_FALSE(error->empty());
  EXPECT_FALSE(port.portOpen());
}

TEST_F(QtSerialPortTest, ALineThatHangsUpClosesThePortAndSaysSo) {
  QtSerialPort port;
  ASSERT_FALSE(port.setPortOpen(true));
  port.setRThreshold(1);
  port.setOnComm([] {});
  int lost = 0;
  port.setOnDeviceLost([&] { ++lost; });
  close(master_);
  master_ = -1;
  EXPECT_TRUE(waitFor([&] { return !port.portOpen(); }));
  EXPECT_EQ(lost, 1);
  // The same device, not whatever port 1 names now: the pseudo-terminal is gone.
  EXPECT_TRUE(port.reopen());
}

TEST_F(QtSerialPortTest, LinksToThingsThatAreNoSerialDeviceAreRefusedWithoutBlocking) {
  ASSERT_EQ(mkfifo("pipe", 0600), 0);  // opening it for reading would wait for a writer
  std::ofstream("plain") << "x";
  fs::create_directory("folder");
  const struct {
    const char* target;
    const char* why;
  } cases[] = {{"pipe", "it is not a serial device"},
               {"plain", "it is not a serial device"},
               {"folder", "it is a folder, not a serial device"},
               {"missing", "the link points to nothing that exists"}};
  QtSerialPort port;
  ASSERT_FALSE(port.setCommPort(2));
  for (const auto& c : cases) {
    fs::remove("COM2");
    fs::create_symlink(dir_ / c.target, "COM2");
    const PortError error = port.setPortOpen(true);
    ASSERT_TRUE(error) << c.target;
    EXPECT_EQ(*error, "Port 2 (" + (dir_ / "COM2").string() + "): " + c.why);
  }
}

}  // namespace
}  // namespace trv4

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
