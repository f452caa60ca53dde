// trv4-gateway end to end: the real gateway against the simulator on a pseudo-terminal and
// Debian's mosquitto broker, as it runs on a cabinet PC without a screen.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::scalesim {
namespace {

using test::has;
using test::MqttBroker;
using test::MqttSubscriber;

TEST(GatewayE2E, PollsPublishesLogsAndEndsCleanlyOnSigterm) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  TempDir dir;
  Simulator sim(dir, {"--scales", "A-C", "--static", "--load", "A=12.5", "--load", "B=-3"});
  ASSERT_TRUE(sim.ready());
  writeFile(dir.file("TRV4.INI"), iniText("111"));
  writeFile(dir.file("TRV4NET.INI"),
            "[mqtt]\nenabled=true\nport=" + std::to_string(broker.port()) + "\nprefix=line2\n");
  MqttSubscriber plant(broker.port(), "line2/#");

  // Started from another folder: --dir names the configuration, the log name is the shell's.
  TempDir work;
  Process gateway(gatewayPath(), {"--dir", dir.path(), "--log", "weights.log"}, work.path(), {},
                  "gateway.out");
  ASSERT_TRUE(waitFor(
      [&] {
        return plant.last("line2/status") == "online" &&
               has(plant.last("line2/A/weight"), "\"weight\":12.50,") &&
               has(plant.last("line2/B/weight"), "\"weight\":-3.00,");
      },
      20000))
      << readFile(work.file("gateway.out"));
  const std::string logPath = work.file("weights.log");
  ASSERT_TRUE(waitFor([&] { return has(readFile(logPath), ";12.50 kg;G;;-3.00 kg;G;;"); }, 5000))
      << readFile(logPath).substr(0, 400);

  ASSERT_TRUE(gateway.stop(SIGTERM, 10000));
  EXPECT_EQ(gateway.exitCode(), 0) << readFile(work.file("gateway.out"));
  EXPECT_TRUE(waitFor([&] { return plant.last("line2/status") == "offline"; }, 5000));

  // The log is closed whole: every line complete, nothing written after the end.
  const std::string log = readFile(logPath);
  ASSERT_TRUE(log.ends_with("\r\n"));
  std::size_t start = 0;
  while (start < log.size()) {
    const std::size_t end = log.find("\r\n", start);
    const std::string line = log.substr(start, end - start);
    EXPECT_EQ(std::ranges::count(line, ';'), 2 + 3 * 3) << line;
    start = end + 2;
  }
  sleepSeconds(0.2);
  EXPECT_EQ(readFile(logPath), log);
  const std::string out = readFile(work.file("gateway.out"));
  EXPECT_TRUE(has(out, "polling ABC")) << out;
  EXPECT_TRUE(has(out, "stopped by signal 15")) << out;
}

TEST(GatewayE2E, WaitsForAPortThatIsNotThereYetAndPollsOnceItIs) {
  // Port 9: no device of this machine, until its ./COM9 link appears.
  TempDir dir;
  std::string ini = iniText("11");
  ini.replace(ini.find("\"1 '"), 3, "\"9 '");
  writeFile(dir.file("TRV4.INI"), ini);
  Process gateway(gatewayPath(), {"--dir", dir.path()}, dir.path(), {}, "gateway.out");
  ASSERT_TRUE(
      waitFor([&] { return has(readFile(dir.file("gateway.out")), "keeps trying"); }, 10000))
      << readFile(dir.file("gateway.out"));
  ASSERT_TRUE(gateway.running());

  // The adapter arrives: a link to the simulator's terminal appears as ./COM9.
  TempDir simDir;
  Simulator sim(simDir, {"--scales", "A-B"});
  ASSERT_TRUE(sim.ready());
  const std::string device = std::filesystem::read_symlink(simDir.file("COM1")).string();
  std::filesystem::create_symlink(device, dir.file("COM9"));
  EXPECT_TRUE(waitFor([&] { return received(sim.log()).size() >= 4; }, 10000));
  const std::string out = readFile(dir.file("gateway.out"));
  EXPECT_TRUE(has(out, "Port 9 is open.")) << out;
  EXPECT_EQ(std::ranges::count(out, '\n'), 3) << "the failed tries are told once:\n" << out;
}

TEST(GatewayE2E, ALogThatCannotBeWrittenEndsItWithAReason) {
  TempDir dir;
  writeFile(dir.file("TRV4.INI"), iniText("1"));
  Process gateway(gatewayPath(), {"--log", dir.file("no/such/folder/w.log")}, dir.path(), {},
                  "gateway.out");
  ASSERT_TRUE(waitFor([&] { return !gateway.running(); }, 10000));
  EXPECT_EQ(gateway.exitCode(), 1);
  EXPECT_TRUE(has(readFile(dir.file("gateway.out")), "CAN NOT WRITE LOG FILE"));
}

// What a unit file or a shell sees of the gateway's end: 0 for --help, --version and a stop by
// SIGTERM or SIGINT, 2 for a mistyped command line (the reason and the usage on standard error),
// 1 when it cannot start.
TEST(GatewayE2E, ExitCodesTellAMistypedCommandLineFromAGatewayThatCannotStart) {
  TempDir dir;
  auto run = [&](const std::vector<std::string>& args, const std::string& output) {
    Process gateway(gatewayPath(), args, dir.path(), {}, output);
    EXPECT_TRUE(waitFor([&] { return !gateway.running(); }, 10000)) << args.front();
    return gateway.exitCode();
  };
  EXPECT_EQ(run({"--help"}, "help.out"), 0);
  EXPECT_TRUE(readFile(dir.file("help.out")).starts_with("Usage: trv4-gateway"));
  EXPECT_EQ(run({"--version"}, "version.out"), 0);
  EXPECT_TRUE(readFile(dir.file("version.out")).starts_with("trv4-gateway 1."));

  const std::pair<std::vector<std::string>, std::string> mistyped[] = {
      {{"--verbose"}, "unknown option: --verbose"},
      {{"--help", "now"}, "unknown option: now"},
      {{"--log"}, "--log needs a value"},
      {{"--interval", "60"}, "--interval needs --log"},
      {{"--log", "w.log", "--interval=-1"}, "--interval: not a whole number"},
      {{"--dir", dir.file("missing")}, "--dir: no such folder"},
  };
  for (const auto& [args, reason] : mistyped) {
    EXPECT_EQ(run(args, "mistyped.out"), 2) << reason;
    const std::string out = readFile(dir.file("mistyped.out"));
    EXPECT_TRUE(out.starts_with("trv4-gateway: " + reason)) << out;
    EXPECT_TRUE(has(out, "Usage: trv4-gateway")) << out;
  }

  // No TRV4.INI, and ports 1 to 5 are links to devices that are gone: nothing to poll.
  for (int port = 1; port <= 5; ++port)
    std::filesystem::create_symlink(dir.file("gone"), dir.file("COM" + std::to_string(port)));
  EXPECT_EQ(run({"--dir", dir.path()}, "start.out"), 1);
  const std::string out = readFile(dir.file("start.out"));
  EXPECT_TRUE(has(out, "INI FILE MISSING") && has(out, "No Serial Port Available")) << out;

  // Ctrl+C ends a running gateway as cleanly as SIGTERM.
  std::string ini = iniText("1");
  ini.replace(ini.find("\"1 '"), 3, "\"9 '");
  writeFile(dir.file("TRV4.INI"), ini);
  Process gateway(gatewayPath(), {"--dir", dir.path()}, dir.path(), {}, "sigint.out");
  ASSERT_TRUE(
      waitFor([&] { return has(readFile(dir.file("sigint.out")), "keeps trying"); }, 10000));
  ASSERT_TRUE(gateway.stop(SIGINT, 10000));
  EXPECT_EQ(gateway.exitCode(), 0);
  EXPECT_TRUE(has(readFile(dir.file("sigint.out")), "stopped by signal 2"));
}

}  // namespace
}  // namespace trv4::scalesim
