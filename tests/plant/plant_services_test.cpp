// The plant services as the program runs them: HTTP and Modbus TCP on a thread of their own,
// started and stopped with publishing, handing captures and commands to the link's thread, which
// is the test's, polling simulated scales in virtual time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QModbusTcpClient>
#include <QTcpSocket>
#include <fstream>

#include "app/remote_command_gate.h"
#include "plant/plant_services.h"
#include "sparkplug/sparkplug_payload.pb.h"
#include "tests/support/app_on_sim.h"
#include "tests/support/http_client.h"
#include "tests/support/mqtt_broker.h"

namespace trv4::test {
namespace {

const QByteArray kBearer = "Bearer 0123456789abcdef-plant-IT";

struct PlantServicesTest : ::testing::Test, AppOnSim {
  PlantServicesTest()
      : AppOnSim(fourScales(), "1111"),
        gate(*app),
        plant(PlantParts{app->monitor(), app->state(), app->linkStats(), port, *app->link(), tk,
                         [this](const std::string& a) { return app->remoteCommandRefusal(a); },
                         gate, ini}) {
    tk.advance(3000);  // every scale polled
  }
  // Starts the services on TRV4NET.INI with HTTP at httpPort and more, once HTTP answers.
  void start(const std::string& more) {
    std::ofstream(path(kNetSettingsFileName)) << "[http]\nenabled=true\nport=" << httpPort << "\n"
                                              << more;
    plant.start();
    ASSERT_TRUE(runLinkUntil([&] { return get("/healthz").status == 200; }));
  }
  HttpReply get(const QString& path) const {
    return HttpClient(static_cast<quint16>(httpPort)).get(path);
  }
  // Runs the link in virtual time and this thread's events until done() or 10 s of real time.
  bool runLinkUntil(const std::function<bool()>& done) {
    return runUntil([&] {
      tk.advance(20);
      return done();
    });
  }

  RemoteCommandGate gate;
  PlantServices plant;
  int httpPort = freeTcpPort();
};

TEST_F(PlantServicesTest, HttpAndModbusStartAndStopWithPublishingAndAnswerWhileTheLinkIsBusy) {
  const int modbus = freeTcpPort();
  start("[modbus]\nenabled=true\nport=" + std::to_string(modbus) + "\n");
  // This thread runs the link and the windows; it now runs no event at all while it asks.
  QTcpSocket raw;
  raw.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(httpPort));
  ASSERT_TRUE(raw.waitForConnected(5000));
  raw.write("GET /api/v1/scales/A HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_TRUE(raw.waitForReadyRead(5000) && raw.readAll().startsWith("HTTP/1.1 200 OK"));

  QModbusTcpClient plc;
  plc.setConnectionParameter(QModbusDevice::NetworkAddressParameter, QStringLiteral("127.0.0.1"));
  plc.setConnectionParameter(QModbusDevice::NetworkPortParameter, modbus);
  ASSERT_TRUE(plc.connectDevice());
  ASSERT_TRUE(runLinkUntil([&] { return plc.state() == QModbusDevice::ConnectedState; }));
  std::unique_ptr<QModbusReply> reply(
      plc.sendReadRequest(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, 8), 1));
  ASSERT_TRUE(reply && runLinkUntil([&] { return reply->isFinished(); }));
  EXPECT_EQ(reply->result().value(2), 1250);  // A's 12.50 kg, low word
  plc.disconnectDevice();

  plant.stop();
  EXPECT_TRUE(runLinkUntil([&] { return get("/healthz").status == 0; }));
  httpPort = freeTcpPort();
  start("");
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
}

TEST_F(PlantServicesTest, CapturesAndCommandsByHttpAreTakenOnTheLinksThread) {
  start("token=0123456789abcdef-plant-IT\ncommands=true\n");
  HttpClient http(static_cast<quint16>(httpPort));
  HttpClient::Pending capture = http.startPost("/api/v1/scales/A/captures", {}, kBearer);
  ASSERT_TRUE(runLinkUntil([&] { return capture.finished(); }));
  const HttpReply taken = capture.reply();
  ASSERT_EQ(taken.status, 201) << taken.body.toStdString();
  EXPECT_EQ(taken.json()["text"].toString(), QStringLiteral("12.50 kg"));
  EXPECT_EQ(plant.weighings().desk().newest(1).at(0).sequence,
            static_cast<uint64_t>(taken.json()["sequence"].toInteger()));

  HttpClient::Pending zero =
      http.startPost("/api/v1/scales/B/commands", R"({"command":"Z"})", kBearer);
  ASSERT_TRUE(runLinkUntil([&] { return zero.finished(); }));
  EXPECT_EQ(zero.reply().status, 202) << zero.reply().body.toStdString();
  EXPECT_TRUE(runLinkUntil([&] { return app->linkStats().scale(1).commands == 1; }));
}

// Restarted as OK in the Publishing dialog does it, under the same client ids at once: each
// goodbye reaches the broker before the next hello (bdSeq one on); the end waits for the last.
TEST_F(PlantServicesTest, MqttAndSparkplugRestartWithPublishingAndTheirGoodbyesLeaveFirst) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber host(broker.port(), "spBv1.0/trv4/+/line1"),
      statusTopic(broker.port(), "p/status");
  const auto statuses = [&] {
    std::vector<std::string> out;
    for (const auto& m : statusTopic.messages()) out.push_back(m.payload);
    return out;
  };
  const auto node = [&] {  // NBIRTH and NDEATH with their bdSeq, in order
    std::vector<std::pair<std::string, uint64_t>> out;
    for (const auto& m : host.messages()) {
      trv4::spb::Payload p;
      EXPECT_TRUE(p.ParseFromString(m.payload));
      for (const auto& metric : p.metrics())
        if (metric.name() == "bdSeq") out.emplace_back(m.topic.substr(13, 6), metric.long_value());
    }
    return out;
  };
  using Node = std::vector<std::pair<std::string, uint64_t>>;
  start("[mqtt]\nenabled=true\nprefix=p\nport=" + std::to_string(broker.port()) +
        "\n[sparkplug]\nenabled=true\nedge_node_id=line1\n");
  ASSERT_TRUE(runLinkUntil([&] { return node().size() == 1 && statuses().size() == 1; }));
  EXPECT_TRUE(runLinkUntil(
      [&] { return get("/metrics").body.contains("\ntrv4_sparkplug_connected 1\n"); }));
  plant.stop();
  plant.start();
  ASSERT_TRUE(runLinkUntil([&] { return node().size() == 3 && statuses().size() == 3; }));
  plant.stop();
  plant.awaitGoodbyes();
  EXPECT_TRUE(runLinkUntil([&] { return node().size() == 4 && statuses().size() == 4; }));
  EXPECT_EQ(node(), (Node{{"NBIRTH", 0}, {"NDEATH", 0}, {"NBIRTH", 1}, {"NDEATH", 1}}));
  EXPECT_EQ(statuses(), (std::vector<std::string>{"online", "offline", "online", "offline"}));
  MqttSubscriber late(broker.port(), "p/status");
  EXPECT_TRUE(runLinkUntil([&] { return late.last("p/status") == "offline"; })) << "retained";
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
}

}  // namespace
}  // namespace trv4::test
