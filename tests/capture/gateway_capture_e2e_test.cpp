// trv4-gateway delivers the captures waiting in its journal to Debian's mosquitto broker: killed
// in the middle of the run and started again, it delivers every one, each first time in order,
// and the journal ends with none waiting.
#include <signal.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "capture/sqlite_journal.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/virtual_toolkit.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::test {
namespace {

using scalesim::Process;
using scalesim::readFile;
using scalesim::TempDir;
using scalesim::waitFor;
using scalesim::writeFile;

constexpr int kCaptures = 400;

uint64_t sequenceIn(const std::string& payload) {
  const std::string key = "\"sequence\":";
  const std::size_t at = payload.find(key);
  return at == std::string::npos ? 0 : std::stoull(payload.substr(at + key.size()));
}

// The distinct numbers that arrived, in the order each first came.
std::vector<uint64_t> firstArrivals(const MqttSubscriber& plant) {
  std::vector<uint64_t> out;
  std::set<uint64_t> seen;
  for (const auto& m : plant.messages())
    if (const uint64_t s = sequenceIn(m.payload); seen.insert(s).second) out.push_back(s);
  return out;
}

TEST(GatewayCaptureE2E, CapturesWaitingInTheJournalAllArriveAlsoAfterTheGatewayWasKilled) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  TempDir dir;
  {
    Process writer(CAPTURE_WRITER, {dir.path(), std::to_string(kCaptures)}, dir.path(), {},
                   "writer.out");
    ASSERT_TRUE(waitFor([&] { return !writer.running(); }, 100000));
    ASSERT_EQ(writer.exitCode(), 0) << readFile(dir.file("writer.out"));
  }
  // Port 9: no device here; the gateway keeps trying it and delivers meanwhile.
  std::string ini = scalesim::iniText("1");
  ini.replace(ini.find("\"1 '"), 3, "\"9 '");
  writeFile(dir.file("TRV4.INI"), ini);
  writeFile(dir.file("TRV4NET.INI"), "[mqtt]\nenabled=true\nport=" + std::to_string(broker.port()) +
                                         "\nprefix=line3\nclient_id=gateway-capture-test\n");
  MqttSubscriber plant(broker.port(), "line3/+/capture");
  ASSERT_TRUE(plant.connected());

  {
    Process gateway(scalesim::gatewayPath(), {"--dir", dir.path()}, dir.path(), {}, "gateway1.out");
    ASSERT_TRUE(waitFor([&] { return plant.messages().size() >= 40; }, 30000))
        << readFile(dir.file("gateway1.out"));
    ASSERT_TRUE(gateway.stop(SIGKILL, 10000));
  }
  const std::size_t beforeRestart = firstArrivals(plant).size();
  Process gateway(scalesim::gatewayPath(), {"--dir", dir.path()}, dir.path(), {}, "gateway2.out");
  ASSERT_TRUE(waitFor([&] { return firstArrivals(plant).size() >= kCaptures; }, 60000))
      << firstArrivals(plant).size() << " arrived\n"
      << readFile(dir.file("gateway2.out"));
  // The journal marks each once the broker's acknowledgement is back.
  VirtualToolkit tk;
  SqliteJournal journal(tk, dir.file(kCaptureJournalFileName));
  EXPECT_TRUE(waitFor([&] { return journal.undeliveredCount() == 0; }, 10000))
      << journal.undeliveredCount() << " still waiting";
  EXPECT_TRUE(tk.messages.empty());
  ASSERT_TRUE(gateway.stop(SIGTERM, 10000));
  EXPECT_EQ(gateway.exitCode(), 0);

  std::vector<uint64_t> expected;
  for (uint64_t s = 1; s <= kCaptures; ++s) expected.push_back(s);
  EXPECT_EQ(firstArrivals(plant), expected) << "each capture's first arrival in order";
  EXPECT_LT(beforeRestart, static_cast<std::size_t>(kCaptures)) << "killed after the last one";
  for (const auto& m : plant.messages()) EXPECT_FALSE(m.retained);
}

}  // namespace
}  // namespace trv4::test
