// Sparkplug B end to end: the real gateway polling the simulator, Debian's broker, and a host of
// the plant reading what the edge node publishes with the generated payload classes.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sparkplug/sparkplug_payload.pb.h"
#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/scale_model.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::scalesim {
namespace {

using test::has;
using test::MqttBroker;
using test::MqttSubscriber;
using Payload = ::trv4::spb::Payload;
using Metric = Payload::Metric;

constexpr uint32_t kInt64 = 4, kBoolean = 11;

// One message of an edge node, decoded.
struct Seen {
  std::string type;    // NBIRTH, DDATA, ...
  std::string device;  // empty for the node's own
  Payload payload;
};

// What the host has seen of edge node `edge` of group trv4, in order.
std::vector<Seen> seenOf(const MqttSubscriber& host, const std::string& edge) {
  std::vector<Seen> out;
  const std::string group = "spBv1.0/trv4/";
  for (const auto& m : host.messages()) {
    if (!m.topic.starts_with(group)) continue;
    std::string rest = m.topic.substr(group.size());  // type/edge[/device]
    const std::size_t a = rest.find('/');
    const std::size_t b = rest.find('/', a + 1);
    if (a == std::string::npos || rest.substr(a + 1, b - a - 1) != edge) continue;
    Seen s{rest.substr(0, a), b == std::string::npos ? "" : rest.substr(b + 1), {}};
    if (s.type.ends_with("CMD")) continue;  // the host's own
    EXPECT_TRUE(s.payload.ParseFromString(m.payload)) << m.topic;
    out.push_back(std::move(s));
  }
  return out;
}

int countOf(const std::vector<Seen>& seen, const std::string& type,
            const std::string& device = "") {
  return static_cast<int>(std::ranges::count_if(
      seen, [&](const Seen& s) { return s.type == type && s.device == device; }));
}

const Seen* lastOf(const std::vector<Seen>& seen, const std::string& type,
                   const std::string& device = "") {
  for (auto it = seen.rbegin(); it != seen.rend(); ++it)
    if (it->type == type && it->device == device) return &*it;
  return nullptr;
}

std::optional<Metric> metricOf(const Payload& p, const std::string& name) {
  for (const Metric& m : p.metrics())
    if (m.name() == name) return m;
  return std::nullopt;
}

uint64_t bdSeqOf(const Seen* s) {
  const auto m = s ? metricOf(s->payload, "bdSeq") : std::nullopt;
  EXPECT_TRUE(m && m->datatype() == kInt64);
  return m ? m->long_value() : 999;
}

// A command of the host: one Boolean metric set true.
std::string command(const std::string& name) {
  Payload p;
  Metric* m = p.add_metrics();
  m->set_name(name);
  m->set_datatype(kBoolean);
  m->set_boolean_value(true);
  return p.SerializeAsString();
}

std::string netIni(int port, const std::string& edge, const std::string& more = "") {
  return "[mqtt]\nenabled=true\nport=" + std::to_string(port) + "\nprefix=" + edge +
         "\nclient_id=" + edge + "\nheartbeat_s=1\ncommands=true\n[sparkplug]\nenabled=true\n" +
         "edge_node_id=" + edge + "\ncommands=true\n" + more;
}

struct Line {
  Line(const std::vector<std::string>& simArgs, const std::string& scan, const std::string& net)
      : sim(dir, simArgs) {
    writeFile(dir.file("TRV4.INI"), iniText(scan));
    writeFile(dir.file("TRV4NET.INI"), net);
    gateway =
        std::make_unique<Process>(gatewayPath(), std::vector<std::string>{"--dir", dir.path()},
                                  dir.path(), std::vector<std::string>{}, "gateway.out");
  }
  std::string out() const { return readFile(dir.file("gateway.out")); }
  int framesTo(char address, const std::string& body) const {
    const auto rx = received(sim.log());
    return static_cast<int>(std::ranges::count(rx, makeFrame(address, body), &LogEntry::bytes));
  }
  TempDir dir;
  Simulator sim;
  std::unique_ptr<Process> gateway;
};

constexpr int kLimitMs = 30000;

// The wiring with real parts: the settings, the host's STATE, the births read back, a live
// command through MQTT's gate to the line, a retained one refused, and a clean end's NDEATH. The
// rules of births, data, seq and deaths are the publisher's tests'; a killed gateway's will is
// the lines test's.
TEST(SparkplugE2E, TheHostSeesTheBirthsItsCommandsReachTheLineAndACleanEndIsADeath) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber host(broker.port(), "spBv1.0/#");
  ASSERT_TRUE(host.publish("spBv1.0/STATE/scada", "{\"online\":true,\"timestamp\":1}", true));
  // Left on the broker long ago: never taken.
  ASSERT_TRUE(host.publish("spBv1.0/trv4/DCMD/line1/A", command("Gross"), true));
  Line line({"--scales", "A-B", "--static", "--load", "A=12.5", "--load", "B=-3"}, "11",
            netIni(broker.port(), "line1", "primary_host_id=scada\n"));
  ASSERT_TRUE(line.sim.ready());
  const auto seen = [&] { return seenOf(host, "line1"); };
  ASSERT_TRUE(waitFor(
      [&] { return countOf(seen(), "DBIRTH", "A") && countOf(seen(), "DBIRTH", "B"); }, kLimitMs))
      << line.out();
  const std::vector<Seen> s = seen();
  EXPECT_EQ(std::tuple(bdSeqOf(lastOf(s, "NBIRTH")), lastOf(s, "NBIRTH")->payload.seq()),
            std::tuple(0u, 0u));
  const Payload& b = lastOf(s, "DBIRTH", "B")->payload;
  EXPECT_EQ(std::tuple(metricOf(b, "Weight")->double_value(), metricOf(b, "Text")->string_value()),
            std::tuple(-3.0, "-3.00 kg"));

  // A live tare reaches scale A; the retained gross never did.
  ASSERT_TRUE(host.publish("spBv1.0/trv4/DCMD/line1/A", command("Tare")));
  EXPECT_TRUE(waitFor([&] { return line.framesTo('A', "T") == 1; }, kLimitMs));
  EXPECT_EQ(line.framesTo('A', "G"), 0);
  EXPECT_TRUE(has(line.out(), "retained command on spBv1.0/trv4/DCMD/line1/A")) << line.out();

  // A command for C, which is not polled: refused for the same cause by MQTT as by Sparkplug.
  const std::string clause = "refused: the scale is not polled";
  host.publish("line1/C/command", "T");
  ASSERT_TRUE(waitFor([&] { return has(line.out(), "line1/C/command was " + clause); }, kLimitMs))
      << line.out();
  host.publish("spBv1.0/trv4/DCMD/line1/C", command("Tare"));
  EXPECT_TRUE(waitFor([&] { return has(line.out(), "DCMD/line1/C was " + clause); }, kLimitMs))
      << line.out();
  EXPECT_EQ(line.framesTo('C', "T"), 0);

  ASSERT_TRUE(line.gateway->stop(SIGTERM, 10000));
  EXPECT_EQ(line.gateway->exitCode(), 0);
  ASSERT_TRUE(waitFor([&] { return countOf(seen(), "NDEATH") == 1; }, kLimitMs));
  EXPECT_EQ(bdSeqOf(lastOf(seen(), "NDEATH")), 0u);
}

}  // namespace
}  // namespace trv4::scalesim
