// The MQTT publisher on the program's logic in virtual time, behind a transport that stands for
// a broker always there: when a scale is first published.
#include "net/mqtt_publisher.h"

#include <gtest/gtest.h>

#include <array>

#include "tests/support/app_on_sim.h"

namespace trv4::test {
namespace {

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A broker that takes every publication and acknowledges it a millisecond later.
class BrokerStandIn : public MqttTransport {
 public:
  struct Publication {
    int64_t at;
    std::string topic, payload;
  };

  explicit BrokerStandIn(VirtualToolkit& tk) : tk_(tk) {}
  void start(Handlers h) override {
    handlers_ = std::move(h);
    handlers_.connected();
  }
  bool publish(const std::string& topic, const std::string& payload, int, bool) override {
    published.push_back({tk_.now(), topic, payload});
    tk_.schedule(tk_.now() + 1, [this] { handlers_.delivered(); });
    return true;
  }
  void subscribe(const std::string&, int) override {}
  void finish(const std::string&, const std::string&, int, bool) override {}
  // The publications on topic.
  std::vector<Publication> on(const std::string& topic) const {
    std::vector<Publication> out;
    for (const Publication& p : published)
      if (p.topic == topic) out.push_back(p);
    return out;
  }

  std::vector<Publication> published;

 private:
  VirtualToolkit& tk_;
  Handlers handlers_;
};

scalesim::NetworkOptions scales() {
  scalesim::NetworkOptions o;
  o.addresses = {'A', 'B', 'C', 'D', 'E'};
  o.movingWeights = false;
  o.faults = {scalesim::Fault{scalesim::FaultKind::kSilence, {'D'}, 1.0}};
  o.setups['A'].load = 12.5;
  return o;
}

// A to D polled (D silent), E on the line but not polled.
struct MqttPublisherTest : ::testing::Test, AppOnSim {
  MqttPublisherTest() : AppOnSim(scales(), "11110") {}

  std::unique_ptr<MqttPublisher> startPublisher(BrokerStandIn& broker) {
    MqttSettings s;
    s.enabled = true;
    s.prefix = "plant";
    s.heartbeatS = 2;
    auto p = std::make_unique<MqttPublisher>(s, app->monitor(), app->state(), tk, broker);
    p->start();
    return p;
  }
  void start() { publisher = startPublisher(broker); }
  BrokerStandIn broker{tk};
  std::unique_ptr<MqttPublisher> publisher;  // after the broker it uses
};

TEST_F(MqttPublisherTest, AScaleIsFirstPublishedWhenItsPanelFirstHasSomethingToSay) {
  std::array<int64_t, kMaxScales> firstShown;
  firstShown.fill(-1);
  app->monitor().addShownListener([&](int i) {
    if (firstShown[i] < 0) firstShown[i] = tk.now();
  });
  start();  // connected before the first scan step
  EXPECT_TRUE(broker.on("plant/A/weight").empty()) << "no blank panel over the kept weight";
  tk.advance(30000);

  // A answers at once; the silent D is first published when its display hold blanks it.
  const auto a = broker.on("plant/A/weight");
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a.front().at, firstShown[0]);
  EXPECT_TRUE(has(a.front().payload, "\"weight\":12.50,")) << a.front().payload;
  const auto d = broker.on("plant/D/weight");
  ASSERT_FALSE(d.empty());
  EXPECT_GT(firstShown[3], 1000);
  EXPECT_EQ(d.front().at, firstShown[3]);
  EXPECT_TRUE(broker.on("plant/E/weight").empty()) << "not polled";

  // Publishing started again (the Publishing dialog's OK) waits for the next answer as well.
  BrokerStandIn again(tk);
  auto restarted = startPublisher(again);
  EXPECT_TRUE(again.published.size() == 1 && again.published[0].topic == "plant/status");
  tk.advance(1000);
  const auto a2 = again.on("plant/A/weight");
  ASSERT_FALSE(a2.empty());
  EXPECT_TRUE(has(a2.front().payload, "\"weight\":12.50,")) << a2.front().payload;
}

}  // namespace
}  // namespace trv4::test
