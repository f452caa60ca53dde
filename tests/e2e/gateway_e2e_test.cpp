// The gateway as a process, as it runs on a cabinet PC without a screen.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::scalesim {
namespace {

using test::has;

// Publishing by the gateway is proven with its captures and its dashboard; here its log and its
// end.
TEST(GatewayE2E, PollsLogsAndEndsCleanlyOnSigterm) {
  TempDir dir;
  Simulator sim(dir, {"--scales", "A-C", "--static", "--load", "A=12.5", "--load", "B=-3"});
  ASSERT_TRUE(sim.ready());
  writeFile(dir.file("TRV4.INI"), iniText("111"));

  // Started from another folder: --dir names the configuration, the log name is the shell's.
  TempDir work;
  Process gateway(gatewayPath(), {"--dir", dir.path(), "--log", "weights.log"}, work.path(), {},
                  "gateway.out");
  const std::string logPath = work.file("weights.log");
  ASSERT_TRUE(waitFor([&] { return has(readFile(logPath), ";12.50 kg;G;;-3.00 kg;G;;"); }, 20000))
      << readFile(logPath).substr(0, 400) << readFile(work.file("gateway.out"));

  ASSERT_TRUE(gateway.stop(SIGTERM, 10000));
  EXPECT_EQ(gateway.exitCode(), 0) << readFile(work.file("gateway.out"));
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
  EXPECT_TRUE(has(out, "polling ABC") && has(out, "stopped by signal 15")) << out;
}

// What a unit file or a shell sees: 0 for --help and --version, 2 for a mistyped command line (the
// reason and the usage on standard error), 1 when it cannot start, with the reason.
TEST(GatewayE2E, ExitCodesTellAMistypedCommandLineFromAGatewayThatCannotStart) {
  TempDir dir;
  auto run = [&](const std::vector<std::string>& args) {
    Process gateway(gatewayPath(), args, dir.path(), {}, "gateway.out");
    EXPECT_TRUE(waitFor([&] { return !gateway.running(); }, 10000)) << args.front();
    return std::pair(gateway.exitCode(), readFile(dir.file("gateway.out")));
  };
  auto [code, out] = run({"--help"});
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(out.starts_with("Usage: trv4-gateway"));
  std::tie(code, out) = run({"--version"});
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(out.starts_with("trv4-gateway 1."));
  std::tie(code, out) = run({"--log"});
  EXPECT_EQ(code, 2);
  EXPECT_TRUE(out.starts_with("trv4-gateway: --log needs a value") &&
              has(out, "Usage: trv4-gateway"))
      << out;

  // No TRV4.INI, and ports 1 to 5 are links to devices that are gone: nothing to poll.
  for (int port = 1; port <= 5; ++port)
    std::filesystem::create_symlink(dir.file("gone"), dir.file("COM" + std::to_string(port)));
  std::tie(code, out) = run({"--dir", dir.path()});
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(has(out, "INI FILE MISSING") && has(out, "No Serial Port Available")) << out;

  writeFile(dir.file("TRV4.INI"), iniText("1"));
  std::tie(code, out) = run({"--log", dir.file("no/such/folder/w.log")});
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(has(out, "CAN NOT WRITE LOG FILE")) << out;
}

}  // namespace
}  // namespace trv4::scalesim
