// Sparkplug B end to end: the real gateway polling the simulator, Debian's broker, and a host of
// the plant reading what the edge node publishes with the generated payload classes.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

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

// The metric of that name in the last payload on topic.
std::optional<Payload::Metric> metricOf(const MqttSubscriber& host, const std::string& topic,
                                        const std::string& name) {
  Payload p;
  EXPECT_TRUE(p.ParseFromString(host.last(topic))) << topic;
  for (const auto& m : p.metrics())
    if (m.name() == name) return m;
  ADD_FAILURE() << "no " << name << " on " << topic;
  return std::nullopt;
}

// A command of the host: one Boolean metric set true.
std::string command(const std::string& name) {
  Payload p;
  Payload::Metric* m = p.add_metrics();
  m->set_name(name);
  m->set_datatype(11);
  m->set_boolean_value(true);
  return p.SerializeAsString();
}

// The wiring; the rules are the publisher's tests', a killed gateway's will the lines test's.
TEST(SparkplugE2E, TheHostSeesTheBirthsItsCommandsReachTheLineAndACleanEndIsADeath) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber host(broker.port(), "spBv1.0/#");
  ASSERT_TRUE(host.publish("spBv1.0/STATE/scada", R"({"online":true,"timestamp":1})", true));
  // Left on the broker long ago: never taken.
  ASSERT_TRUE(host.publish("spBv1.0/trv4/DCMD/line1/A", command("Gross"), true));
  const std::string net = "[mqtt]\nenabled=true\nport=" + std::to_string(broker.port()) +
                          "\nprefix=line1\ncommands=true\n[sparkplug]\nenabled=true\n"
                          "edge_node_id=line1\nprimary_host_id=scada\ncommands=true\n";
  Session s({"--scales", "A-B", "--static", "--load", "A=12.5", "--load", "B=-3"}, "11",
            {{"TRV4NET.INI", net}}, Session::Command{gatewayPath(), {"--dir", "."}});
  ASSERT_TRUE(s.sim.ready());
  const auto out = [&] { return readFile(s.dir.file("trv4.out")); };
  const auto framesTo = [&](char address, const std::string& body) {
    return std::ranges::count(received(s.sim.log()), makeFrame(address, body), &LogEntry::bytes);
  };
  const std::string node = "spBv1.0/trv4/NBIRTH/line1", b = "spBv1.0/trv4/DBIRTH/line1/B";
  ASSERT_TRUE(waitFor(
      [&] {
        return host.count(node) && host.count("spBv1.0/trv4/DBIRTH/line1/A") && host.count(b);
      },
      30000))
      << out();
  EXPECT_EQ(metricOf(host, node, "bdSeq")->long_value(), 0u);
  EXPECT_EQ(std::tuple(metricOf(host, b, "Weight")->double_value(),
                       metricOf(host, b, "Text")->string_value()),
            std::tuple(-3.0, "-3.00 kg"));

  // A live tare reaches scale A; the retained gross never did.
  ASSERT_TRUE(host.publish("spBv1.0/trv4/DCMD/line1/A", command("Tare")));
  EXPECT_TRUE(waitFor([&] { return framesTo('A', "T") == 1; }, 30000));
  EXPECT_EQ(framesTo('A', "G"), 0);
  EXPECT_TRUE(has(out(), "retained command on spBv1.0/trv4/DCMD/line1/A")) << out();

  // A command for C, which is not polled: refused for the same cause by MQTT as by Sparkplug.
  const std::string clause = "refused: the scale is not polled";
  host.publish("line1/C/command", "T");
  ASSERT_TRUE(waitFor([&] { return has(out(), "line1/C/command was " + clause); }, 30000)) << out();
  host.publish("spBv1.0/trv4/DCMD/line1/C", command("Tare"));
  EXPECT_TRUE(waitFor([&] { return has(out(), "DCMD/line1/C was " + clause); }, 30000)) << out();
  EXPECT_EQ(framesTo('C', "T"), 0);

  ASSERT_TRUE(s.program.stop(SIGTERM, 10000));
  EXPECT_EQ(s.program.exitCode(), 0);
  const std::string death = "spBv1.0/trv4/NDEATH/line1";
  ASSERT_TRUE(waitFor([&] { return host.count(death) == 1; }, 30000));
  EXPECT_EQ(metricOf(host, death, "bdSeq")->long_value(), 0u);
}

}  // namespace
}  // namespace trv4::scalesim
