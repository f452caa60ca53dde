// The gateway's exit codes; its polling, publishing, log and ends are the lines test's.
#include <gtest/gtest.h>

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
