// Gateways on one PC, one per line; a second on what one uses is refused, or waits for its line.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::scalesim {
namespace {

using test::has;
using test::MqttBroker;
using test::MqttSubscriber;

// Gateways that must see each other's claims share a scope; the test's own keeps other tests out.
std::vector<std::string> sharedScope() {
  return {"TRV4_CLAIM_SCOPE=lines-" + std::to_string(getpid())};
}

std::unique_ptr<Process> startGateway(const TempDir& dir, const std::string& out,
                                      const std::string& folder = {}) {
  return std::make_unique<Process>(
      gatewayPath(), std::vector<std::string>{"--dir", folder.empty() ? dir.path() : folder},
      dir.path(), sharedScope(), out);
}

std::string mqttSection(int port, const std::string& prefix, const std::string& clientId) {
  return "[mqtt]\nenabled=true\nhost=127.0.0.1\nport=" + std::to_string(port) +
         "\nprefix=" + prefix + "\nclient_id=" + clientId + "\n";
}

TEST(LinesE2E, TwoLinesPublishSideBySideAndAGatewayOnABusyLineWaitsForIt) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber plant(broker.port(), "#");
  struct Line {
    TempDir dir, shell;  // its folder, and where its gateway is started from
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Process> gateway;
    std::string out() const { return readFile(shell.file("gateway.out")); }
  };
  Line lines[2];
  for (int n = 0; n < 2; ++n) {
    Line& line = lines[n];
    const std::string name = "line" + std::to_string(n + 1);
    line.sim = std::make_unique<Simulator>(
        line.dir, std::vector<std::string>{"--scales", "A-B", "--static", "--load",
                                           "A=" + std::to_string(n + 1) + "1.5"});
    ASSERT_TRUE(line.sim->ready());
    writeFile(line.dir.file("TRV4.INI"), iniText("11"));
    writeFile(line.dir.file("TRV4NET.INI"),
              mqttSection(broker.port(), name, "trv4-" + name) +
                  "[http]\nenabled=true\nport=" + std::to_string(test::freeTcpPort()) +
                  "\n[sparkplug]\nenabled=true\nedge_node_id=" + name + "\n");
    // --dir names the folder; line 2's log is named as its shell sees it.
    std::vector<std::string> args = {"--dir", line.dir.path()};
    if (n == 1) args.insert(args.end(), {"--log", "weights.log"});
    line.gateway = std::make_unique<Process>(gatewayPath(), args, line.shell.path(), sharedScope(),
                                             "gateway.out");
  }
  ASSERT_TRUE(waitFor(
      [&] {
        return has(plant.last("line1/A/weight"), "\"weight\":11.50,") &&
               has(plant.last("line2/A/weight"), "\"weight\":21.50,") &&
               plant.count("spBv1.0/trv4/DBIRTH/line1/B") &&
               plant.count("spBv1.0/trv4/DBIRTH/line2/B");
      },
      20000))
      << lines[0].out() << lines[1].out();

  // A third gateway whose COM1 is line 1's device: told once, it waits while line 1's runs.
  TempDir third;
  std::filesystem::create_symlink(std::filesystem::read_symlink(lines[0].dir.file("COM1")),
                                  third.file("COM1"));
  writeFile(third.file("TRV4.INI"), iniText("11"));
  auto waiting = startGateway(third, "gateway.out");
  const auto out = [&] { return readFile(third.file("gateway.out")); };
  ASSERT_TRUE(waitFor([&] { return has(out(), "is in use by another gateway"); }, 10000)) << out();
  EXPECT_TRUE(has(out(), "Port 1 (" + std::filesystem::canonical(third.file("COM1")).string() +
                             ") is in use by another gateway; this gateway waits"))
      << out();
  sleepSeconds(1.5);  // it tries again each second, and tells none of the tries

  // Line 1's gateway is killed: its will is its edge node's death, not retained; the third gateway
  // takes the line.
  ASSERT_TRUE(lines[0].gateway->stop(SIGKILL, 10000)) << "not ended by SIGKILL";
  EXPECT_TRUE(waitFor([&] { return plant.count("spBv1.0/trv4/NDEATH/line1") == 1; }, 20000));
  MqttSubscriber late(broker.port(), "#");
  // A message sent after the subscription comes after everything retained.
  ASSERT_TRUE(waitFor([&] { return plant.publish("mark", "") && late.count("mark") > 0; }, 10000))
      << "no mark";
  EXPECT_EQ(late.count("spBv1.0/trv4/NDEATH/line1"), 0);
  const std::size_t before = received(lines[0].sim->log()).size();
  EXPECT_TRUE(waitFor([&] { return received(lines[0].sim->log()).size() >= before + 10; }, 10000))
      << out();
  EXPECT_TRUE(has(out(), "Port 1 is open.")) << out();
  EXPECT_EQ(std::ranges::count(out(), '\n'), 3) << "the wait is told once:\n" << out();
  EXPECT_TRUE(waiting->running() && lines[1].gateway->running());
  EXPECT_EQ(
      std::pair(plant.count("spBv1.0/trv4/NBIRTH/line2"), plant.count("spBv1.0/trv4/NDEATH/line2")),
      std::pair(1, 0))
      << "line 2 kept its connection";
  // Ctrl+C ends a gateway as cleanly as SIGTERM: its log closed whole, nothing after the end.
  ASSERT_TRUE(lines[1].gateway->stop(SIGINT, 10000)) << lines[1].out();
  EXPECT_EQ(lines[1].gateway->exitCode(), 0) << lines[1].out();
  EXPECT_TRUE(has(lines[1].out(), "polling AB") && has(lines[1].out(), "stopped by signal 2"))
      << lines[1].out();
  const std::string log = readFile(lines[1].shell.file("weights.log"));
  ASSERT_TRUE(has(log, ";21.50 kg;G;;") && log.ends_with("\r\n")) << log.substr(0, 400);
  for (std::size_t at = 0, end; at < log.size(); at = end + 2) {
    end = log.find("\r\n", at);
    EXPECT_EQ(std::count(log.begin() + at, log.begin() + end, ';'), 2 + 3 * 2) << at;
  }
  sleepSeconds(0.2);
  EXPECT_EQ(readFile(lines[1].shell.file("weights.log")), log);
}

// A second gateway that would share what a running one uses ends at start, status 1, naming it.
// Neither has a line (their ./COM1 points nowhere): the clash is found before polling starts.
TEST(LinesE2E, ASecondGatewayOnTheSameFolderClientIdOrPortIsRefused) {
  const int port = test::freeTcpPort();
  const std::string ports = std::to_string(port);
  const std::string longId(120, 'x');
  struct Row {
    const char* what;
    std::string firstNet, secondNet;
    bool sameFolder;
    std::string message;  // "" when the second starts
  } rows[] = {
      {"the same folder by another path", "", "", true, "the first's folder"},
      // Long enough for the claim's name to be hashed.
      {"one long client id on one broker", mqttSection(1883, "a", longId + "1"),
       mqttSection(1883, "b", longId + "1"), false,
       "the MQTT client id " + longId + "1 on broker 127.0.0.1:1883."},
      {"long client ids that differ at their ends", mqttSection(1883, "a", longId + "1"),
       mqttSection(1883, "b", longId + "2"), false, ""},
      {"one client id on two brokers", mqttSection(1883, "a", "plant1"),
       mqttSection(1884, "b", "plant1"), false, ""},
      {"one Sparkplug edge node on one broker",
       mqttSection(1883, "a", "plant1") + "[sparkplug]\nenabled=true\nedge_node_id=line\n",
       mqttSection(1883, "b", "plant2") + "[sparkplug]\nenabled=true\nedge_node_id=line\n", false,
       "the Sparkplug edge node trv4/line on broker 127.0.0.1:1883."},
      {"one HTTP port", "[http]\nenabled=true\nport=" + ports + "\n",
       "[http]\nenabled=true\nport=" + ports + "\n", false, "the HTTP port " + ports + "."},
      {"Modbus on the other's HTTP port", "[http]\nenabled=true\nport=" + ports + "\n",
       "[modbus]\nenabled=true\nport=" + ports + "\n", false, "the Modbus TCP port " + ports + "."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir first, second, links;
    for (const TempDir* dir : {&first, &second}) {
      writeFile(dir->file("TRV4.INI"), iniText("1"));
      std::filesystem::create_symlink(dir->file("gone"), dir->file("COM1"));
    }
    writeFile(first.file("TRV4NET.INI"), row.firstNet);
    writeFile(second.file("TRV4NET.INI"), row.secondNet);
    auto running = startGateway(first, "gateway.out");
    ASSERT_TRUE(
        waitFor([&] { return has(readFile(first.file("gateway.out")), "polling A"); }, 10000))
        << readFile(first.file("gateway.out"));

    // The same folder reached through a link to it.
    const std::string alias = links.file("alias");
    std::filesystem::create_symlink(first.path(), alias);
    auto refused = startGateway(second, "second.out", row.sameFolder ? alias + "/." : "");
    const auto out = [&] { return readFile(second.file("second.out")); };
    if (row.message.empty()) {
      EXPECT_TRUE(waitFor([&] { return has(out(), "polling A"); }, 10000)) << out();
      EXPECT_TRUE(refused->running()) << out();
    } else {
      ASSERT_TRUE(waitFor([&] { return !refused->running(); }, 10000)) << out();
      EXPECT_EQ(refused->exitCode(), 1);
      const std::string clash =
          row.sameFolder ? "the folder " + std::filesystem::canonical(first.path()).string() + "."
                         : row.message;
      EXPECT_EQ(out(), "trv4-gateway: Another gateway already uses " + clash + "\n");
    }
    EXPECT_TRUE(running->running()) << readFile(first.file("gateway.out"));
  }
}

}  // namespace
}  // namespace trv4::scalesim
