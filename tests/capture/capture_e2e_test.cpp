// The journal on disk and its delivery, with processes killed in the middle: capture_writer takes
// captures into a journal in a scratch folder, trv4-gateway delivers them to a real broker.
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

// capture_writer on the journal in dir with args after the folder, its output in dir/out.
Process startWriter(const TempDir& dir, const std::string& out,
                    std::vector<std::string> args = {}) {
  args.insert(args.begin(), dir.path());
  return Process(CAPTURE_WRITER, args, dir.path(), {}, out);
}

// The numbers on whole lines of the writer's output; 0 for a whole line that is no number.
std::vector<uint64_t> printedNumbers(const std::string& out) {
  std::vector<uint64_t> numbers;
  std::size_t at = 0;
  for (std::size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = out.substr(at, end - at);
    const bool number = !line.empty() && line.find_first_not_of("0123456789") == std::string::npos;
    numbers.push_back(number ? std::stoull(line) : 0);
  }
  return numbers;
}

TEST(CaptureKillTest, KilledWhileCapturingItLosesNoCommittedCaptureAndReusesNoNumber) {
  TempDir dir;
  std::set<uint64_t> told;
  uint64_t highest = 0;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string name = "writer" + std::to_string(round) + ".out", out = dir.file(name);
    Process writer = startWriter(dir, name);
    const std::size_t want = 10 + 23 * static_cast<std::size_t>(round);
    ASSERT_TRUE(waitFor([&] { return printedNumbers(readFile(out)).size() >= want; }, 60000));
    ASSERT_TRUE(writer.stop(SIGKILL, 10000));
    for (const uint64_t n : printedNumbers(readFile(out))) {
      ASSERT_GT(n, highest) << "a number used again, out of order, or not a number:\n"
                            << readFile(out);
      highest = n;
      told.insert(n);
    }
  }

  VirtualToolkit tk;
  SqliteJournal journal(tk, dir.file(kCaptureJournalFileName));
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
  std::set<uint64_t> stored;
  uint64_t previous = 0;
  for (const Capture& c : journal.after(0, 1000000)) {
    EXPECT_GT(c.sequence, previous);
    previous = c.sequence;
    stored.insert(c.sequence);
  }
  for (const uint64_t n : told) EXPECT_TRUE(stored.contains(n)) << "capture " << n << " was lost";
  // At most the one each kill caught between its commit and its line is stored untold.
  EXPECT_LE(stored.size(), told.size() + 4);
}

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
    Process writer = startWriter(dir, "writer.out", {std::to_string(kCaptures)});
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
    const std::string out = readFile(dir.file("gateway1.out"));
    EXPECT_TRUE(has(out, "Port 9 cannot be opened: ") &&
                out.find("cannot be opened") == out.rfind("cannot be opened"))
        << "told once: " << out;
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
