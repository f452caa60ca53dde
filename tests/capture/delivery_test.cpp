// Store and forward on a scripted connection: order, the window of publications in flight,
// acknowledgements, a lost connection. (The gateway's end-to-end test delivers to a real broker.)
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_delivery.h"
#include "tests/support/desk_on_monitor.h"

namespace trv4::test {
namespace {

// A connection the test opens, loses and acknowledges on.
struct ScriptedTransport : MqttTransport {
  struct Sent {
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
    sent.push_back({topic, payload, qos});
    return static_cast<int>(sent.size());
  }
  void connect() {
    up = true;
    ack.connected();
  }
  void lose() {
    up = false;
    ack.lost();
  }

  AckHandlers ack;
  bool up = false;
  std::vector<Sent> sent;
};

std::vector<uint64_t> range(uint64_t from, uint64_t to) {
  std::vector<uint64_t> out(to - from + 1);
  std::iota(out.begin(), out.end(), from);
  return out;
}

struct DeliveryTest : ::testing::Test {
  DeliveryTest() { delivery.start(); }
  // The sequence numbers sent, in order.
  std::vector<uint64_t> sequences() const {
    std::vector<uint64_t> out;
    for (const auto& s : transport.sent)
      out.push_back(
          QJsonDocument::fromJson(QByteArray::fromStdString(s.payload))["sequence"].toInteger());
    return out;
  }
  // The broker acknowledges the n-th publication (from 0), whose id is n + 1.
  void ack(std::size_t n) {
    transport.ack.acknowledged(static_cast<int>(n) + 1);
    rig.settle();
  }

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
  EXPECT_EQ(sequences(), range(1, kCaptureWindow));
  EXPECT_EQ(std::pair(transport.sent[1].topic, transport.sent[1].qos),
            std::pair(std::string("plant/line1/B/capture"), 1));
  EXPECT_EQ(transport.sent[0].payload,
            "{\"address\":\"A\",\"decimals\":2,\"digits\":1250,\"net\":false,"
            "\"requestedBy\":\"operator\",\"scale\":0,\"sequence\":1,\"text\":\"12.50 kg\","
            "\"time\":\"2026-12-06T14:03:59.000Z\",\"unit\":\"kg\",\"utcMs\":1796565839000,"
            "\"weight\":12.5}");

  // Acknowledgements in any order free a place each; the next in line takes it.
  ack(2);
  EXPECT_EQ(std::pair(journal.rows[1].delivered, journal.rows[2].delivered),
            std::pair(false, true));
  EXPECT_EQ(sequences(), range(1, kCaptureWindow + 1));
  for (std::size_t i = 0; i < transport.sent.size(); ++i) ack(i);
  EXPECT_EQ(sequences(), range(1, 40));
  EXPECT_EQ(rig.desk.waitingForDelivery(), 0u);

  // A new capture goes at once.
  rig.take(1);
  rig.settle();
  EXPECT_EQ(sequences().back(), 41u);
}

TEST_F(DeliveryTest, AfterALostConnectionTheUnacknowledgedGoAgainFromTheLowest) {
  rig.take(5);
  rig.settle();
  transport.connect();
  rig.settle();
  ack(0);
  ack(3);
  transport.lose();
  rig.take(1);  // waits in the journal
  rig.settle();
  ack(1);  // from the connection before: no longer counted
  EXPECT_FALSE(journal.rows[1].delivered);
  EXPECT_EQ(transport.sent.size(), 5u);

  transport.connect();
  rig.settle();
  EXPECT_EQ(sequences(), (std::vector<uint64_t>{1, 2, 3, 4, 5, 2, 3, 5, 6}));
  for (std::size_t i = 5; i < transport.sent.size(); ++i) ack(i);
  EXPECT_EQ(rig.desk.waitingForDelivery(), 0u);
  EXPECT_EQ(delivery.losses(), 1);
}

}  // namespace
}  // namespace trv4::test
