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

// The messages that carry seq run on from NBIRTH's 0 by one each, 255 then 0; how many did.
int checkSeq(const std::vector<Seen>& seen) {
  std::optional<uint64_t> last;
  int counted = 0;
  for (const Seen& s : seen) {
    if (s.type == "NDEATH") continue;
    EXPECT_TRUE(s.payload.has_seq()) << s.type << " " << s.device;
    if (s.type == "NBIRTH") {
      EXPECT_EQ(s.payload.seq(), 0u);
    } else if (last) {
      EXPECT_EQ(s.payload.seq(), (*last + 1) % 256) << s.type << " " << s.device << " #" << counted;
    }
    last = s.payload.seq();
    ++counted;
  }
  return counted;
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

std::string state(bool online, int64_t timestamp) {
  return std::string("{\"online\":") + (online ? "true" : "false") +
         ",\"timestamp\":" + std::to_string(timestamp) + "}";
}

// TRV4.INI with 10 ms between scans, so the line gives many changes quickly.
std::string fastIni(const std::string& scan) {
  std::string ini = iniText(scan);
  const std::size_t at = ini.find("\"0100  ' wait for next scan if this scan is a status");
  ini.replace(at + 1, 4, "0010");
  return ini;
}

std::string netIni(int port, const std::string& edge, const std::string& more = "") {
  return "[mqtt]\nenabled=true\nport=" + std::to_string(port) + "\nprefix=" + edge +
         "\nclient_id=" + edge + "\nheartbeat_s=1\ncommands=true\n[sparkplug]\nenabled=true\n" +
         "edge_node_id=" + edge + "\ncommands=true\n" + more;
}

struct Line {
  Line(const std::vector<std::string>& simArgs, const std::string& scan, const std::string& net)
      : sim(dir, simArgs) {
    writeFile(dir.file("TRV4.INI"), fastIni(scan));
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

TEST(SparkplugE2E, BirthsCarryEveryMetricSeqRunsOnAndCommandsTakeMqttsGate) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber host(broker.port(), "spBv1.0/#");
  // Left on the broker long ago: never taken.
  ASSERT_TRUE(host.publish("spBv1.0/trv4/DCMD/line1/A", command("Gross"), true));
  Line line({"--scales", "A-B", "--static", "--load", "A=12.5", "--swing", "A", "--load", "B=-3"},
            "11", netIni(broker.port(), "line1"));
  ASSERT_TRUE(line.sim.ready());
  const auto seen = [&] { return seenOf(host, "line1"); };
  ASSERT_TRUE(waitFor(
      [&] { return countOf(seen(), "DBIRTH", "A") && countOf(seen(), "DBIRTH", "B"); }, kLimitMs))
      << line.out();

  std::vector<Seen> s = seen();
  const Seen* nbirth = lastOf(s, "NBIRTH");
  ASSERT_TRUE(nbirth);
  const auto rebirth = metricOf(nbirth->payload, "Node Control/Rebirth");
  ASSERT_TRUE(rebirth);
  EXPECT_EQ(std::tuple(bdSeqOf(nbirth), rebirth->datatype(), rebirth->boolean_value()),
            std::tuple(0u, kBoolean, false));
  const Seen* b = lastOf(s, "DBIRTH", "B");
  // Every metric with its data type: Int32 3, UInt64 8, Double 10, Boolean 11, String 12.
  std::vector<std::string> types;
  for (const Metric& m : b->payload.metrics()) {
    types.push_back(m.name() + " " + std::to_string(m.datatype()));
    EXPECT_GT(m.timestamp(), 0u) << m.name();
  }
  std::ranges::sort(types);
  EXPECT_EQ(types,
            (std::vector<std::string>{
                "Answering 11", "Centre of zero 11", "Decimals 3", "Gross 11", "Link/Bad frames 8",
                "Link/NAKs 8", "Link/Replies 8", "Link/Requests 8", "Link/Time-outs 8", "Motion 11",
                "Net 11", "Off range 11", "Tare 11", "Text 12", "Weight 10", "Zero 11"}));
  const Metric weight = *metricOf(b->payload, "Weight");
  ASSERT_EQ(weight.properties().keys_size(), 1);
  EXPECT_EQ(std::tuple(weight.double_value(), weight.properties().keys(0),
                       weight.properties().values(0).string_value(),
                       metricOf(b->payload, "Text")->string_value(),
                       metricOf(b->payload, "Decimals")->int_value(),
                       metricOf(b->payload, "Answering")->boolean_value()),
            std::tuple(-3.0, "engUnit", "kg", "-3.00 kg", 2u, true));

  // A's swinging weight: many DDATA, each with seq one on, past 255.
  ASSERT_TRUE(waitFor([&] { return seen().size() > 300; }, 60000)) << seen().size();
  s = seen();
  EXPECT_GT(checkSeq(s), 300);
  // B's panel stays: its data are the counters that changed, nothing else.
  int bData = 0;
  for (const Seen& d : s) {
    if (d.type != "DDATA" || d.device != "B") continue;
    ++bData;
    for (const Metric& m : d.payload.metrics())
      EXPECT_TRUE(m.name().starts_with("Link/")) << m.name();
  }
  EXPECT_GT(bData, 0);

  // Rebirth: NBIRTH with the same bdSeq and seq 0, then every DBIRTH.
  ASSERT_TRUE(host.publish("spBv1.0/trv4/NCMD/line1", command("Node Control/Rebirth")));
  ASSERT_TRUE(waitFor(
      [&] {
        s = seen();
        return countOf(s, "NBIRTH") == 2 && countOf(s, "DBIRTH", "A") == 2 &&
               countOf(s, "DBIRTH", "B") == 2;
      },
      kLimitMs));
  EXPECT_EQ(bdSeqOf(lastOf(s, "NBIRTH")), 0u);
  checkSeq(s);

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

  // A clean end: NDEATH of that connection.
  ASSERT_TRUE(line.gateway->stop(SIGTERM, 10000));
  EXPECT_EQ(line.gateway->exitCode(), 0);
  ASSERT_TRUE(waitFor([&] { return countOf(seen(), "NDEATH") == 1; }, kLimitMs));
  EXPECT_EQ(bdSeqOf(lastOf(seen(), "NDEATH")), bdSeqOf(lastOf(seen(), "NBIRTH")));
}

TEST(SparkplugE2E, BirthsWaitForThePrimaryHostAndASilentScaleDiesAndIsBornAgain) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber host(broker.port(), "#");
  Line line({"--scales", "A", "--static", "--load", "A=7"}, "1",
            netIni(broker.port(), "line2", "primary_host_id=scada\n"));
  ASSERT_TRUE(line.sim.ready());
  const auto seen = [&] { return seenOf(host, "line2"); };
  // Its weight by MQTT shows the scale answered: no birth yet.
  ASSERT_TRUE(
      waitFor([&] { return has(host.last("line2/A/weight"), "\"weight\":7.00,"); }, kLimitMs))
      << line.out();
  EXPECT_TRUE(seen().empty());

  const int64_t t = 1'800'000'000'000;
  ASSERT_TRUE(host.publish("spBv1.0/STATE/scada", state(true, t), true));
  ASSERT_TRUE(waitFor([&] { return countOf(seen(), "DBIRTH", "A") == 1; }, kLimitMs));

  // The simulator stopped: A's display hold runs out, DDEATH; going on, DBIRTH again.
  ASSERT_EQ(kill(line.sim.process().pid(), SIGSTOP), 0);
  const bool died = waitFor([&] { return countOf(seen(), "DDEATH", "A") == 1; }, kLimitMs);
  ASSERT_EQ(kill(line.sim.process().pid(), SIGCONT), 0);
  ASSERT_TRUE(died);
  ASSERT_TRUE(waitFor([&] { return countOf(seen(), "DBIRTH", "A") == 2; }, kLimitMs));
  checkSeq(seen());

  // Offline: NDEATH of this connection. Online again: births.
  ASSERT_TRUE(host.publish("spBv1.0/STATE/scada", state(false, t + 10), true));
  ASSERT_TRUE(waitFor([&] { return countOf(seen(), "NDEATH") == 1; }, kLimitMs));
  EXPECT_EQ(bdSeqOf(lastOf(seen(), "NDEATH")), bdSeqOf(lastOf(seen(), "NBIRTH")));
  ASSERT_TRUE(host.publish("spBv1.0/STATE/scada", state(true, t + 20), true));
  ASSERT_TRUE(waitFor([&] { return countOf(seen(), "DBIRTH", "A") == 3; }, kLimitMs));
  EXPECT_EQ(countOf(seen(), "NBIRTH"), 2);
  checkSeq(seen());
}

TEST(SparkplugE2E, TwoGatewaysAreBornSideBySideAndAKilledOnesWillIsItsDeath) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber host(broker.port(), "spBv1.0/#");
  Line east({"--scales", "A-B", "--static"}, "11", netIni(broker.port(), "east"));
  Line west({"--scales", "A", "--static"}, "1", netIni(broker.port(), "west"));
  ASSERT_TRUE(east.sim.ready() && west.sim.ready());
  ASSERT_TRUE(waitFor(
      [&] {
        return countOf(seenOf(host, "east"), "DBIRTH", "B") == 1 &&
               countOf(seenOf(host, "west"), "DBIRTH", "A") == 1;
      },
      kLimitMs))
      << east.out() << west.out();

  ASSERT_TRUE(east.gateway->stop(SIGKILL, 5000));
  ASSERT_TRUE(waitFor([&] { return countOf(seenOf(host, "east"), "NDEATH") == 1; }, kLimitMs));
  const std::vector<Seen> e = seenOf(host, "east");
  EXPECT_EQ(bdSeqOf(lastOf(e, "NDEATH")), bdSeqOf(lastOf(e, "NBIRTH")));
  EXPECT_EQ(countOf(seenOf(host, "west"), "NDEATH"), 0);
  EXPECT_EQ(countOf(seenOf(host, "west"), "NBIRTH"), 1) << "west kept its connection";
}

}  // namespace
}  // namespace trv4::scalesim
