// The Qt serial-port adapter on a real pseudo-terminal; the reconnect timer in virtual time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "link/port_reconnect.h"
#include "link/qt_serial_port.h"
#include "link/scale_link.h"
#include "tests/support/link_fixture.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

namespace fs = std::filesystem;

// Runs the event loop until done() holds or limitMs pass.
bool waitFor(const std::function<bool()>& done, int limitMs = 2000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

// A pseudo-terminal of its own: its slave's name and what arrives at its master.
struct Pty {
  Pty() : master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    EXPECT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    name = ptsname(master);
  }
  ~Pty() {
    if (master >= 0) close(master);
    if (held >= 0) close(held);
  }
  // Closes the master as a pulled cable would. A slave kept open holds the terminal's number,
  // so a terminal that another test opens meanwhile cannot take the name a link still points to.
  void hangUp() {
    if (master < 0) return;
    held = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    close(master);
    master = -1;
  }
  // What arrives within limitMs, once at least `want` bytes have come.
  std::string read(int limitMs = 2000, size_t want = 1) const {
    std::string got;
    waitFor(
        [&] {
          char buf[4096];
          for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
          return got.size() >= want;
        },
        limitMs);
    return got;
  }
  int master;
  int held = -1;
  std::string name;
};

// A pseudo-terminal linked as ./COM1 in a fresh current directory.
class QtSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    fs::current_path(dir_);
    fs::create_symlink(com1_.name, "COM1");
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }

  const fs::path old_ = fs::current_path();
  const fs::path dir_ = fs::temp_directory_path() / ("trv4-qsp-" + std::to_string(getpid()));
  Pty com1_;
};

// Refused texts are parseLineSettings'; one an open device refuses keeps the old text too.
TEST_F(QtSerialPortTest, PortOneIsTheLinkInTheCurrentDirectoryAndRefusedSettingsKeepTheOldText) {
  QtSerialPort port;
  ASSERT_FALSE(port.setSettings("9600,N,8,1"));
  EXPECT_EQ(port.setSettings("9600,X,8,1")->code, PortFailureCode::kSettingsMalformed);
  EXPECT_EQ(port.settings(), "9600,N,8,1");
  EXPECT_EQ(port.setHandshaking(4)->code, PortFailureCode::kHandshakingOutOfRange);
  ASSERT_FALSE(port.setPortOpen(true));
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(port.setCommPort(2)->code, PortFailureCode::kOpenWhileChoosing)
      << "the number cannot change while the port is open";
  EXPECT_FALSE(port.setSettings("19200,N,8,1"));
  EXPECT_EQ(port.settings(), "19200,N,8,1");
  EXPECT_FALSE(port.setHandshaking(2));

  port.output(std::string("\x02\x41?04<\x03", 7));
  EXPECT_EQ(com1_.read(), std::string("\x02\x41?04<\x03", 7));
  // RThreshold 0: bytes wait in the port without an event. Every byte value comes through.
  int events = 0;
  port.setOnComm([&] { ++events; });
  ASSERT_EQ(write(com1_.master, "ab", 2), 2);
  ASSERT_TRUE(waitFor([&] { return port.inBufferCount() == 2; }));
  EXPECT_EQ(std::tuple(events, port.input()), std::tuple(0, "ab"));
  port.setRThreshold(1);
  const std::string binary("\x00\xff\x80\x03", 4);
  ASSERT_EQ(write(com1_.master, binary.data(), binary.size()), 4);
  ASSERT_TRUE(waitFor([&] { return events > 0 && port.inBufferCount() == 4; }));
  EXPECT_EQ(std::tuple(port.commEvent(), port.input()), std::tuple(kCommEventReceive, binary));
  EXPECT_EQ(port.input(), "");

  // Frames sent back to back, 8-bit bytes among them, leave whole and in order.
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    expected += "\x02" + std::string(1, static_cast<char>('A' + i % 30)) + "?0 12.50\xc1\x03";
    port.output(expected.substr(expected.size() - 12));
  }
  EXPECT_TRUE(com1_.read(2000, expected.size()) == expected);
}

// Bytes reach the receive event as they come, whatever came before: nothing waits for a length
// or a time that earlier answers had. Each answer below once got stuck in a reader that predicted
// the line (a NAK after a longer status, an ETX followed by more, a longer answer than last time,
// a slow rate). Within the link's character time-out of its last byte every answer must be in,
// else the link would have dropped its exchange.
TEST_F(QtSerialPortTest, EveryAnswerComesAsItArrivesWhateverCameBefore) {
  constexpr int kCharTimeoutMs = 20;
  QtSerialPort port;
  ASSERT_FALSE(port.setPortOpen(true));
  std::string got;
  port.setOnComm([&] { got += port.input(); });
  const std::string request("\x02\x41?04<\x03", 7);
  const std::string status = "\x02\x41?P012.345<\x03";
  const std::string nak = "\x02\x41\x15\x34\x36\x03";
  const struct {
    std::string answer;
    int gapMs;  // between characters
  } answers[] = {
      {status, 1},
      {nak, 1},  // shorter than the one before
      {status, 1},
      {"\x02\x41\x03" + status, 1},                // an early ETX, then the rest
      {status + status.substr(0, 5) + "\x03", 1},  // longer than the one before
      {nak, 9},                                    // 1200 baud
      {status + status, 0},                        // two frames at once
  };
  for (const auto& a : answers) {
    SCOPED_TRACE(testing::PrintToString(a.answer));
    got.clear();
    port.setRThreshold(1);
    port.output(request);
    ASSERT_EQ(com1_.read(), request);
    QElapsedTimer sinceLast;
    for (char c : a.answer) {
      if (a.gapMs > 0) waitFor([] { return false; }, a.gapMs);
      ASSERT_EQ(write(com1_.master, &c, 1), 1);
      sinceLast.start();
    }
    EXPECT_TRUE(waitFor([&] { return got.size() >= a.answer.size(); }, 2000));
    EXPECT_EQ(got, a.answer);
    EXPECT_LT(sinceLast.elapsed(), kCharTimeoutMs);
  }
}

// A line that hangs up closes the port and says so. The tries that follow open the name the port
// was opened under: a ./COM1 link re-pointed to a new device is followed; while the link is
// missing nothing is opened, though port 1 also names a system device (ttyS0 of a scratch /dev).
TEST_F(QtSerialPortTest, AfterAHangUpTheLinkIsFollowedAndNothingElseOpened) {
  fs::create_directory("dev");
  Pty system, back;
  fs::create_symlink(system.name, "dev/ttyS0");
  QtSerialPort port({".", (dir_ / "dev").string()});
  ASSERT_FALSE(port.setPortOpen(true));
  int lost = 0;
  port.setOnDeviceLost([&] { ++lost; });
  com1_.hangUp();
  EXPECT_TRUE(waitFor([&] { return !port.portOpen(); }));
  EXPECT_EQ(lost, 1);
  Pty stranger;                // opened meanwhile: it must not take the closed terminal's name
  EXPECT_TRUE(port.reopen());  // the link points to the closed terminal
  fs::remove("COM1");
  EXPECT_TRUE(port.reopen());  // no link: not ttyS0 either
  EXPECT_FALSE(port.portOpen());

  fs::create_symlink(back.name, "COM1");
  ASSERT_FALSE(port.reopen());
  port.output("x");
  EXPECT_EQ(back.read(), "x");
  EXPECT_EQ(system.read(200), "");
}

// A terminal that takes no parity runs 9600,E,7,1 on what it took since it was opened. Back
// under a re-pointed link after a hang-up and refusing just that, it is taken back: polling
// resumes, and the operator hears only of the loss.
TEST_F(QtSerialPortTest, ADeviceBackRefusingWhatItRefusedAtItsOpenIsTakenBack) {
  test::VirtualToolkit tk;
  QtSerialPort port;
  PortReconnect reconnect(port, tk);
  ASSERT_FALSE(port.setSettings("9600,E,7,1"));  // closed: taken as the text to run with
  ASSERT_FALSE(port.setPortOpen(true));          // a refusal on opening is not a failed open
  if (!port.setSettings("9600,O,7,1")) GTEST_SKIP() << "this terminal takes parity";
  // Another text is refused; the same one again is nothing new.
  EXPECT_EQ(port.settings(), "9600,E,7,1");
  EXPECT_FALSE(port.setSettings("9600,E,7,1"));
  com1_.hangUp();
  ASSERT_TRUE(waitFor([&] { return reconnect.waiting(); }));
  Pty back;
  fs::remove("COM1");
  fs::create_symlink(back.name, "COM1");
  tk.advance(2 * kReconnectInterval);
  EXPECT_EQ(tk.messages, (std::vector<std::string>{"Port 1 was disconnected. The program opens it "
                                                   "again as soon as its device is back."}));
  ASSERT_TRUE(port.portOpen());
  EXPECT_FALSE(reconnect.waiting());
  EXPECT_EQ(port.settings(), "9600,E,7,1");
  port.output("x");
  EXPECT_EQ(back.read(), "x");
}

TEST_F(QtSerialPortTest,
       LinksToThingsThatAreNoSerialDeviceAndMissingPortsAreRefusedWithoutBlocking) {
  ASSERT_EQ(mkfifo("pipe", 0600), 0);  // opening it for reading would wait for a writer
  fs::create_directory("folder");
  const std::pair<const char*, PortFailureCode> cases[] = {
      {"pipe", PortFailureCode::kNotSerialDevice},
      {"folder", PortFailureCode::kDeviceIsFolder},
      {"missing", PortFailureCode::kLinkDangling}};
  QtSerialPort port;
  ASSERT_FALSE(port.setCommPort(2));
  for (auto [target, why] : cases) {
    fs::remove("COM2");
    fs::create_symlink(dir_ / target, "COM2");
    const PortError error = port.setPortOpen(true);
    ASSERT_TRUE(error) << target;
    EXPECT_EQ(std::tuple(error->code, error->port, error->device),
              std::tuple(why, 2, (dir_ / "COM2").string()));
  }
  // Port 60: no ./COM60, /dev/ttyUSB59 or /dev/ttyS59 on a test machine.
  ASSERT_FALSE(port.setCommPort(60));
  const PortError none = port.setPortOpen(true);
  ASSERT_TRUE(none);
  EXPECT_EQ(std::tuple(none->code, none->port), std::tuple(PortFailureCode::kNoDevice, 60));
  EXPECT_FALSE(port.portOpen());
}

// On a busy machine the time-out's turn can come before the receive event. A reply that reached
// the port by then is filed, not timed out: here the event loop never runs, the link's timers run
// in virtual time.
TEST_F(QtSerialPortTest, AReplyThereWhenTheTimeOutComesIsFiled) {
  struct Panels : ScanDisplay {
    void DispWeight(int16_t scale, const std::string& status) override {
      shown.push_back({scale, status});
    }
    void blankPanel(int) override {}
    void setAddressHighlight(int, bool) override {}
    std::vector<std::pair<int, std::string>> shown;
  } panels;
  test::VirtualToolkit tk;
  LinkState state;
  state.ScanList.fill(0);
  state.ScanList[0] = 1;
  QtSerialPort port;
  ASSERT_FALSE(port.setPortOpen(true));
  ScaleLink link(state, port, tk, panels, {[] { return false; }, [] { return std::string("@"); }});
  tk.advance(100);
  ASSERT_EQ(com1_.read(), test::makeFrame('A', "?0"));

  const std::string reply = test::makeFrame('A', "?0 12.50");
  ASSERT_EQ(write(com1_.master, reply.data(), reply.size()), ssize_t(reply.size()));
  const int slave = open(com1_.name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  pollfd arrived{slave, POLLIN, 0};
  ASSERT_EQ(poll(&arrived, 1, 2000), 1) << "the reply did not reach the terminal";
  close(slave);
  tk.advance(100);
  ASSERT_EQ(panels.shown.size(), 1u);
  EXPECT_EQ(panels.shown[0].first, 0);
  EXPECT_NE(panels.shown[0].second.find("12.50"), std::string::npos) << panels.shown[0].second;
}

}  // namespace
}  // namespace trv4

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
