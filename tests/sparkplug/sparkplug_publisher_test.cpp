// The Sparkplug B publisher on the program's logic in virtual time, behind a stand-in broker;
// what it publishes is read back with the generated payload classes.
#include "sparkplug/sparkplug_publisher.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

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

TEST_F(SparkplugPublisherTest, ADeviceNoLongerPolledDies) {
  start();
  tk.advance(1000);
  app->monitor().toggleScan(0);  // A no longer polled
  tk.advance(2500);
  EXPECT_EQ(broker.of("DDEATH", 'A').size(), 1u);
  EXPECT_TRUE(broker.of("DDEATH", 'B').empty());
}

// Whatever arrives that is not a command or a state we take is counted and changes nothing;
// each kind is told once.
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
