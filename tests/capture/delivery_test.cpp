// Store and forward. On a scripted connection: order, the window of publications in flight,
// acknowledgements, a lost connection. On Debian's mosquitto broker: captures taken while the
// broker is away all arrive, in order, once it is back.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_delivery.h"
#include "capture/journal_thread.h"
#include "net/mosquitto_transport.h"
#include "tests/support/desk_on_monitor.h"
#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::test {
namespace {

QJsonObject json(const std::string& payload) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
}

// A connection the test opens, loses and acknowledges on.
struct ScriptedTransport : MqttTransport {
  struct Sent {
    int id;
    std::string topic, payload;
    int qos;
  };
  void start(Handlers) override {}
  bool publish(const std::string&, const std::string&, int, bool) override { return true; }
  void subscribe(const std::string&, int) override {}
  void finish(const std::string&, const std::string&, int, bool) override {}
  void setAckHandlers(AckHandlers h) override { ack = std::move(h); }
  std::optional<int> publishWithId(const std::string& topic, const std::string& payload,
                                   int qos) override {
    if (!up) return std::nullopt;
    sent.push_back({++lastId, topic, payload, qos});
    return lastId;
  }

  void connect() {
    up = true;
    ack.connected();
  }
  void lose() {
    up = false;
    ack.lost();
  }
  // The sequence numbers sent, in order.
  std::vector<uint64_t> sequences() const {
    std::vector<uint64_t> out;
    for (const Sent& s : sent)
      out.push_back(static_cast<uint64_t>(json(s.payload)["sequence"].toInteger()));
    return out;
  }

  AckHandlers ack;
  bool up = false;
  int lastId = 0;
  std::vector<Sent> sent;
};

std::vector<uint64_t> range(uint64_t from, uint64_t to) {
  std::vector<uint64_t> out;
  for (uint64_t s = from; s <= to; ++s) out.push_back(s);
  return out;
}

struct DeliveryTest : ::testing::Test {
  DeliveryTest() { delivery.start(); }

  DeskOnMonitor rig;
  MemoryJournal& journal = rig.journal;
  ScriptedTransport transport;
  CaptureDelivery delivery{rig.desk, transport, "plant/line1"};
};

TEST_F(DeliveryTest, InOrderAWindowAtATimeEachMarkedWhenItsAcknowledgementComes) {
  rig.take(40);
  rig.settle();
  EXPECT_TRUE(transport.sent.empty()) << "nothing goes before the connection is up";
  transport.connect();
  rig.settle();
  ASSERT_EQ(transport.sent.size(), kCaptureWindow);
  EXPECT_EQ(transport.sequences(), range(1, kCaptureWindow));
  EXPECT_EQ(transport.sent[1].topic, "plant/line1/B/capture");
  EXPECT_EQ(transport.sent[1].qos, 1);

  EXPECT_EQ(transport.sent[0].payload,
            "{\"address\":\"A\",\"decimals\":2,\"digits\":1250,\"net\":false,"
            "\"requestedBy\":\"operator\",\"scale\":0,\"sequence\":1,\"text\":\"12.50 kg\","
            "\"time\":\"2026-12-06T14:03:59.000Z\",\"unit\":\"kg\",\"utcMs\":1796565839000,"
            "\"weight\":12.5}");

  // Acknowledgements in any order free a place each; the next in line takes it.
  transport.ack.acknowledged(transport.sent[2].id);
  rig.settle();
  EXPECT_TRUE(journal.rows[2].delivered);
  EXPECT_FALSE(journal.rows[1].delivered);
  EXPECT_EQ(transport.sent.size(), kCaptureWindow + 1);
  EXPECT_EQ(transport.sequences().back(), kCaptureWindow + 1);
  EXPECT_EQ(delivery.inFlight(), kCaptureWindow);

  for (std::size_t i = 0; i < transport.sent.size(); ++i) {
    EXPECT_LE(delivery.inFlight(), kCaptureWindow);
    transport.ack.acknowledged(transport.sent[i].id);
    rig.settle();
  }
  EXPECT_EQ(transport.sequences(), range(1, 40));
  EXPECT_EQ(rig.desk.waitingForDelivery(), 0u);

  // A new capture goes at once.
  rig.take(1);
  rig.settle();
  EXPECT_EQ(transport.sequences().back(), 41u);
}

TEST_F(DeliveryTest, AfterALostConnectionTheUnacknowledgedGoAgainFromTheLowest) {
  rig.take(5);
  rig.settle();
  transport.connect();
  rig.settle();
  ASSERT_EQ(transport.sequences(), range(1, 5));
  transport.ack.acknowledged(transport.sent[0].id);
  rig.settle();
  transport.ack.acknowledged(transport.sent[3].id);
  rig.settle();
  const int stale = transport.sent[1].id;
  transport.lose();
  rig.take(1);  // waits in the journal
  rig.settle();
  transport.ack.acknowledged(stale);  // from the connection before: no longer counted
  rig.settle();
  EXPECT_FALSE(journal.rows[1].delivered);
  EXPECT_EQ(transport.sent.size(), 5u);

  transport.connect();
  rig.settle();
  EXPECT_EQ(transport.sequences(), (std::vector<uint64_t>{1, 2, 3, 4, 5, 2, 3, 5, 6}));
  for (std::size_t i = 5; i < transport.sent.size(); ++i)
    transport.ack.acknowledged(transport.sent[i].id);
  rig.settle();
  EXPECT_EQ(rig.desk.waitingForDelivery(), 0u);
  EXPECT_EQ(delivery.losses(), 1);

  // A publication the connection refuses (it is going) leaves the capture for the next one.
  transport.up = false;
  rig.take(1);
  rig.settle();
  EXPECT_EQ(transport.sent.size(), 9u);
  transport.lose();
  transport.connect();
  rig.settle();
  EXPECT_EQ(transport.sequences().back(), 7u);
}

// The broker is away while twenty captures are taken; once it is back all twenty arrive, in
// order, and are marked delivered in the journal.
TEST(CaptureDeliveryOnBrokerTest, TwentyCapturesTakenWhileTheBrokerIsAwayAllArriveInOrder) {
  MqttBroker broker;  // not started yet
  scalesim::TempDir dir;
  VirtualToolkit messages;
  JournalThread journal(messages, dir.file(kCaptureJournalFileName));
  DeskOnMonitor rig(journal);
  MqttSettings s;
  s.enabled = true;
  s.port = broker.port();
  s.prefix = "plant";
  s.clientId = "capture-delivery-test";
  MosquittoTransport transport(s, "plant/status", "offline");
  transport.start({});
  CaptureDelivery delivery(rig.desk, transport, s.prefix);
  delivery.start();

  for (int i = 0; i < 20; ++i) {
    CaptureRequest r;
    r.scale = i % 3;
    r.stableAnswers = 1;
    std::optional<CaptureOutcome> got;
    rig.desk.capture(r, [&](const CaptureOutcome& o) { got = o; });
    rig.settled(r.scale, "012.50");
    ASSERT_TRUE(pumpUntil([&] { return got.has_value(); }, 5000));
    ASSERT_TRUE(got->capture) << got->message;
  }
  // Failed tries space out (1 s, 2 s, 4 s ...): after the third the next is 4 s away, time
  // enough for the subscriber to be there before the captures go.
  ASSERT_TRUE(pumpUntil([&] { return delivery.losses() >= 3; }, 20000));
  EXPECT_EQ(rig.desk.waitingForDelivery(), 20u);
  ASSERT_TRUE(broker.start());
  MqttSubscriber plant(broker.port(), "plant/+/capture");
  ASSERT_TRUE(plant.connected());

  ASSERT_TRUE(pumpUntil([&] { return rig.desk.waitingForDelivery() == 0; }, 30000));
  ASSERT_TRUE(pumpUntil([&] { return plant.messages().size() >= 20; }, 5000));
  std::vector<uint64_t> arrived;
  for (const auto& m : plant.messages()) {
    EXPECT_FALSE(m.retained);
    const QJsonObject o = json(m.payload);
    arrived.push_back(static_cast<uint64_t>(o["sequence"].toInteger()));
    EXPECT_EQ(m.topic, "plant/" + o["address"].toString().toStdString() + "/capture");
  }
  EXPECT_EQ(arrived, range(1, 20));
  transport.finish({}, {}, 0, false);
}

}  // namespace
}  // namespace trv4::test
