// The Sparkplug B publisher on the program's logic in virtual time, behind a stand-in broker;
// what it publishes is read back with the generated payload classes.
#include "sparkplug/sparkplug_publisher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "sparkplug/sparkplug_payload.pb.h"
#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

using Metric = spb::Payload::Metric;

// A broker that takes every publication and acknowledges it a millisecond later; each connection
// asks the will for its death certificate first, as the real connection does.
class SparkplugBroker : public MqttTransport {
 public:
  struct Publication {
    std::string topic;
    spb::Payload payload;
    int qos;
  };

  SparkplugBroker(VirtualToolkit& tk, SparkplugWill& will) : tk_(tk), will_(will) {}
  void start(Handlers h) override {
    handlers_ = std::move(h);
    connect();
  }
  bool publish(const std::string& topic, const std::string& payload, int qos, bool) override {
    if (!up_) return false;
    spb::Payload p;
    EXPECT_TRUE(p.ParseFromString(payload)) << topic;
    published.push_back({topic, p, qos});
    tk_.schedule(tk_.now() + 1, [this] {
      if (up_) handlers_.delivered();
    });
    return true;
  }
  void subscribe(const std::string&, int) override {}
  void finish(const std::string& topic, const std::string& payload, int qos, bool) override {
    finished = {topic, {}, qos};
    finished.payload.ParseFromString(payload);
  }
  void connect() {
    willPayloads.push_back(will_.nextTry());
    up_ = true;
    handlers_.connected();
  }
  void lose() {
    up_ = false;
    handlers_.lost(MqttFailure{});
  }
  void arrive(const std::string& topic, const std::string& payload, bool tooLong = false,
              bool retained = false) {
    handlers_.message(topic, payload, tooLong, retained);
  }
  // Publications of a type ("DBIRTH") from the from-th on; device: only that device's.
  std::vector<Publication> of(const std::string& type, char device = 0, std::size_t from = 0) {
    std::vector<Publication> out;
    for (std::size_t i = from; i < published.size(); ++i) {
      const std::string& t = published[i].topic;
      if (t.find("/" + type + "/") != std::string::npos &&
          (device == 0 || t.ends_with(std::string("/") + device)))
        out.push_back(published[i]);
    }
    return out;
  }

  std::vector<Publication> published;
  std::vector<std::string> willPayloads;
  Publication finished;

 private:
  VirtualToolkit& tk_;
  SparkplugWill& will_;
  Handlers handlers_;
  bool up_ = false;
};

std::map<std::string, Metric> metricsOf(const spb::Payload& p) {
  std::map<std::string, Metric> out;
  for (const Metric& m : p.metrics()) out[m.name()] = m;
  return out;
}

uint64_t bdSeqOf(const spb::Payload& p) {
  return metricsOf(p).at("bdSeq").long_value();
}

// The publications that carry seq run on from NBIRTH's 0 by one each, 255 then 0; how many did.
int checkSeq(const std::vector<SparkplugBroker::Publication>& published) {
  std::optional<uint64_t> last;
  int counted = 0;
  for (const auto& p : published) {
    if (p.topic.find("/NDEATH/") != std::string::npos) continue;
    EXPECT_TRUE(p.payload.has_seq()) << p.topic;
    const uint64_t expected = p.topic.find("/NBIRTH/") != std::string::npos ? 0
                              : last                                        ? (*last + 1) % 256
                                                                            : p.payload.seq();
    EXPECT_EQ(p.payload.seq(), expected) << p.topic << " #" << counted;
    last = p.payload.seq();
    ++counted;
  }
  return counted;
}

std::string command(const std::string& name, bool value) {
  spb::Payload p;
  Metric* m = p.add_metrics();
  m->set_name(name);
  m->set_datatype(11);
  m->set_boolean_value(value);
  return p.SerializeAsString();
}

// A to D polled (D silent), E on the line but not polled; commands on.
struct SparkplugPublisherTest : ::testing::Test, AppOnSim {
  SparkplugPublisherTest() : AppOnSim(fiveScales(), "11110") {}

  void start(const std::string& primaryHost = "") {
    SparkplugSettings s;
    std::tie(s.enabled, s.groupId, s.edgeNodeId, s.primaryHostId, s.commands) =
        std::tuple(true, "plant", "line1", primaryHost, true);
    publisher = std::make_unique<SparkplugPublisher>(
        s, 2, app->monitor(), app->state(), app->linkStats(), tk, broker,
        [this](const std::string& a) { return app->remoteCommandRefusal(a); }, will);
    publisher->start();
  }
  void dcmd(char device, const std::string& payload, bool retained = false) {
    broker.arrive(std::string("spBv1.0/plant/DCMD/line1/") + device, payload, false, retained);
  }
  void state(const std::string& json) { broker.arrive("spBv1.0/STATE/scada", json); }

  SparkplugWill will{"spBv1.0/plant/NDEATH/line1"};
  SparkplugBroker broker{tk, will};
  std::unique_ptr<SparkplugPublisher> publisher;  // after the broker it uses
};

TEST_F(SparkplugPublisherTest, EachConnectionsBirthsAndDeathCarryItsBdSeq) {
  start();
  tk.advance(500);
  for (int i = 0; i < 3; ++i) {
    broker.lose();
    tk.advance(500);
    EXPECT_EQ(publisher->born(), false);
    broker.connect();
    tk.advance(500);
  }
  const auto births = broker.of("NBIRTH");
  ASSERT_EQ(births.size(), 4u);
  for (uint64_t i = 0; i < 4; ++i) {
    spb::Payload will;
    ASSERT_TRUE(will.ParseFromString(broker.willPayloads[i]));
    EXPECT_EQ(std::tuple(bdSeqOf(will), bdSeqOf(births[i].payload)), std::tuple(i, i));
  }
  publisher->finish();
  EXPECT_EQ(
      std::tuple(broker.finished.topic, broker.finished.qos, bdSeqOf(broker.finished.payload)),
      std::tuple("spBv1.0/plant/NDEATH/line1", 1, 3u));

  SparkplugWill wraps("t");
  for (int i = 0; i < 256; ++i) wraps.nextTry();
  EXPECT_EQ(wraps.bdSeq(), 255u);
  wraps.nextTry();
  EXPECT_EQ(wraps.bdSeq(), 0u);
}

TEST_F(SparkplugPublisherTest, DataCarriesOnlyWhatChangedAndCountersOnlyAtTheHeartbeat) {
  start();
  tk.advance(1000);
  const std::size_t from = broker.published.size();
  sim.network().setLoad('A', 20, sim.nowUs());
  tk.advance(900);  // before the heartbeat
  const auto data = broker.of("DDATA", 'A', from);
  ASSERT_FALSE(data.empty());
  for (const auto& d : data)
    for (const Metric& m : d.payload.metrics())
      EXPECT_FALSE(m.name().starts_with("Link/") || m.name() == "Net") << m.name();
  auto last = metricsOf(data.back().payload);
  EXPECT_EQ(std::tuple(last["Weight"].double_value(), last["Text"].string_value()),
            std::tuple(20.0, "20.00 kg"));

  const std::size_t beat = broker.published.size();
  tk.advance(100);  // the heartbeat at 2 s
  const auto counters = broker.of("DDATA", 'A', beat);
  ASSERT_EQ(counters.size(), 1u);
  auto c = metricsOf(counters[0].payload);
  EXPECT_TRUE(c.contains("Link/Requests") && c.contains("Link/Replies"));
  EXPECT_FALSE(c.contains("Weight") || c.contains("Link/NAKs"));
  EXPECT_EQ(c["Link/Replies"].long_value(), app->linkStats().scale(0).replies);
}

TEST_F(SparkplugPublisherTest, BirthsCarryEveryMetricAndSeqRunsOnPast255AndThroughARebirth) {
  start();
  tk.advance(1000);
  auto rebirth = metricsOf(broker.of("NBIRTH").at(0).payload)["Node Control/Rebirth"];
  EXPECT_EQ(std::pair(rebirth.datatype(), rebirth.boolean_value()), std::pair(11u, false));
  const auto b = broker.of("DBIRTH", 'B');
  ASSERT_EQ(b.size(), 1u);
  // Every metric with its data type: Int32 3, UInt64 8, Double 10, Boolean 11, String 12.
  std::vector<std::string> types;
  for (const Metric& m : b[0].payload.metrics()) {
    types.push_back(m.name() + " " + std::to_string(m.datatype()));
    EXPECT_GT(m.timestamp(), 0u) << m.name();
  }
  std::ranges::sort(types);
  EXPECT_EQ(types,
            (std::vector<std::string>{
                "Answering 11", "Centre of zero 11", "Decimals 3", "Gross 11", "Link/Bad frames 8",
                "Link/NAKs 8", "Link/Replies 8", "Link/Requests 8", "Link/Time-outs 8", "Motion 11",
                "Net 11", "Off range 11", "Tare 11", "Text 12", "Weight 10", "Zero 11"}));
  auto m = metricsOf(b[0].payload);
  ASSERT_EQ(m["Weight"].properties().keys_size(), 1);
  EXPECT_EQ(std::tuple(m["Weight"].double_value(), m["Weight"].properties().keys(0),
                       m["Weight"].properties().values(0).string_value(), m["Text"].string_value(),
                       m["Decimals"].int_value(), m["Answering"].boolean_value()),
            std::tuple(-1.25, "engUnit", "kg", "-1.25 kg", 2u, true));
  EXPECT_TRUE(broker.of("DBIRTH", 'D').empty() && broker.of("DBIRTH", 'E').empty())
      << "silent or not polled: not born";

  sim.scale('A')->swing = true;
  tk.advance(200'000);
  EXPECT_GT(checkSeq(broker.published), 300);

  // Rebirth: NBIRTH with the same bdSeq and seq 0, then every device again.
  broker.arrive("spBv1.0/plant/NCMD/line1", command("Node Control/Rebirth", true));
  tk.advance(100);
  const auto births = broker.of("NBIRTH");
  ASSERT_EQ(births.size(), 2u);
  EXPECT_EQ(bdSeqOf(births[1].payload), 0u);
  for (char device : {'A', 'B', 'C'}) EXPECT_EQ(broker.of("DBIRTH", device).size(), 2u) << device;
  checkSeq(broker.published);
}

TEST_F(SparkplugPublisherTest, WithAPrimaryHostTheNodeIsBornOnlyWhileTheHostIsOnline) {
  start("scada");
  tk.advance(1000);
  EXPECT_TRUE(broker.published.empty());
  state(R"({"online":true,"timestamp":1000})");
  tk.advance(1000);
  ASSERT_EQ(std::tuple(broker.of("NBIRTH").size(), broker.of("DBIRTH", 'A').size()),
            std::tuple(1u, 1u));
  state(R"({"online":false,"timestamp":1010})");
  tk.advance(1000);
  const auto deaths = broker.of("NDEATH");
  ASSERT_EQ(deaths.size(), 1u);
  EXPECT_EQ(std::tuple(bdSeqOf(deaths[0].payload), deaths[0].qos),
            std::tuple(bdSeqOf(broker.of("NBIRTH")[0].payload), 1));
  const std::size_t offline = broker.published.size();
  sim.network().setLoad('A', 20, sim.nowUs());
  tk.advance(3000);
  EXPECT_EQ(broker.published.size(), offline) << "nothing while the host is away";
  state(R"({"online":true,"timestamp":1020})");
  tk.advance(1000);
  EXPECT_EQ(std::tuple(broker.of("NBIRTH").size(), broker.of("DBIRTH", 'A').size()),
            std::tuple(2u, 2u));
  checkSeq(broker.published);
}

TEST_F(SparkplugPublisherTest, ADeviceSilentOrNoLongerPolledDiesAndIsBornAgainWhenBack) {
  start();
  tk.advance(1000);
  app->monitor().toggleScan(0);  // A no longer polled
  sim.scale('B')->baud = 19200;  // B hears the line no longer: its display hold runs out
  tk.advance(60'000);
  EXPECT_EQ(std::tuple(broker.of("DDEATH", 'A').size(), broker.of("DDEATH", 'B').size(),
                       broker.of("DDEATH", 'C').size()),
            std::tuple(1u, 1u, 0u));
  app->monitor().toggleScan(0);
  sim.scale('B')->baud = 0;
  tk.advance(5000);
  EXPECT_EQ(std::tuple(broker.of("DBIRTH", 'A').size(), broker.of("DBIRTH", 'B').size()),
            std::tuple(2u, 2u));
  checkSeq(broker.published);
}

// Anything but a command or state we take is counted, changes nothing, and is told once a kind.
TEST_F(SparkplugPublisherTest, BadCommandsAndStatesAreIgnoredAndCounted) {
  start("scada");
  state(R"({"online":true,"timestamp":1000})");
  tk.advance(1000);
  spb::Payload wrongType;
  wrongType.add_metrics()->set_name("Tare");
  wrongType.mutable_metrics(0)->set_long_value(1);
  const std::string ncmd = "spBv1.0/plant/NCMD/line1", dcmdA = "spBv1.0/plant/DCMD/line1/A";
  const struct {
    std::string topic, payload;
    bool tooLong;
  } rows[] = {
      {dcmdA, "\xff\xff\xff", false},                                // no payload
      {dcmdA, "", false},                                            // no metric
      {dcmdA, command("Weight", true), false},                       // not writable
      {dcmdA, wrongType.SerializeAsString(), false},                 // not Boolean
      {dcmdA, command("Tare", true), true},                          // cut by the transport
      {"spBv1.0/plant/DCMD/line1/a", command("Tare", true), false},  // no such device
      {"spBv1.0/plant/DCMD/line2/A", command("Tare", true), false},  // another node
      {ncmd, command("Tare", true), false},                          // no node metric
      {ncmd, command("Node Control/Rebirth", true), true},
      {"spBv1.0/STATE/scada", "online", false},
      {"spBv1.0/STATE/scada", R"({"online":"yes","timestamp":5000})", false},
      {"spBv1.0/STATE/scada", R"({"online":false})", false},
      {"spBv1.0/STATE/scada", R"([true, 5000])", false},
      {"spBv1.0/STATE/scada", R"({"online":false,"timestamp":500})", false},  // older
  };
  const std::size_t published = broker.published.size();
  const std::size_t sent = sim.received().size();
  for (const auto& r : rows) broker.arrive(r.topic, r.payload, r.tooLong);
  tk.advance(3000);
  EXPECT_EQ(publisher->ignoredMessages(), static_cast<int64_t>(std::size(rows)));
  EXPECT_TRUE(commandsSent(sent).empty());
  EXPECT_TRUE(publisher->born()) << "no bad state takes the node down";
  EXPECT_TRUE(broker.of("NBIRTH", 0, published).empty());
  EXPECT_EQ(tk.messages.size(), 4u) << "node, device, too long, state: once each";
}

}  // namespace
}  // namespace trv4::test
