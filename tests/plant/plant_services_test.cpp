// The plant services as the program runs them: HTTP and Modbus TCP on a thread of their own,
// started and stopped with publishing, reading the board the link's side keeps current, and
// handing captures and commands to the link's thread. The link polls simulated scales in virtual
// time on the test's thread; the services answer real sockets on 127.0.0.1.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QModbusTcpClient>
#include <QTcpServer>
#include <fstream>

#include "app/remote_command_gate.h"
#include "plant/plant_services.h"
#include "tests/support/app_on_sim.h"
#include "tests/support/http_client.h"

namespace trv4::test {
namespace {

const QByteArray kBearer = "Bearer 0123456789abcdef-plant-IT";

int freePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

// One request on a plain blocking socket, without running any event loop of this thread: the
// answer's status line, or "" when none came within limitMs.
std::string statusLineWithoutEventLoop(int port, const std::string& path, int limitMs) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string got;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
      pollfd p{fd, POLLIN, 0};
      char buffer[512];
      while (got.find("\r\n") == std::string::npos && ::poll(&p, 1, limitMs) == 1) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  ::close(fd);
  return got.substr(0, got.find("\r\n"));
}

struct PlantServicesTest : ::testing::Test, AppOnSim {
  PlantServicesTest()
      : AppOnSim(fourScales(), "1111"),
        gate(*app),
        plant(PlantParts{app->monitor(), app->state(), app->linkStats(), port, *app->link(), tk,
                         [this](const std::string& a) { return app->remoteCommandRefusal(a); },
                         gate, ini}) {
    tk.advance(3000);  // every scale polled; the silent one's display hold has run out
  }
  void writeNetSettings(const std::string& text) {
    std::ofstream(path(kNetSettingsFileName)) << text;
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
};

TEST_F(PlantServicesTest, HttpAndModbusStartAndStopWithPublishingWithTheSettingsOfTheFile) {
  const int http = freePort(), modbus = freePort();
  writeNetSettings("[http]\nenabled=true\nport=" + std::to_string(http) +
                   "\n[modbus]\nenabled=true\nport=" + std::to_string(modbus) + "\n");
  plant.start();
  HttpReply metrics;
  ASSERT_TRUE(runLinkUntil([&] {
    metrics = HttpClient(static_cast<quint16>(http)).get("/metrics");
    return metrics.status == 200;
  }));
  EXPECT_NE(metrics.body.indexOf("trv4_mqtt_enabled 0"), -1);
  EXPECT_NE(metrics.body.indexOf("trv4_scale_weight{scale=\"A\",unit=\"kg\"} 12.5"), -1)
      << metrics.body.toStdString();

  QModbusTcpClient plc;
  plc.setConnectionParameter(QModbusDevice::NetworkAddressParameter, QStringLiteral("127.0.0.1"));
  plc.setConnectionParameter(QModbusDevice::NetworkPortParameter, modbus);
  ASSERT_TRUE(plc.connectDevice());
  ASSERT_TRUE(runLinkUntil([&] { return plc.state() == QModbusDevice::ConnectedState; }));
  std::unique_ptr<QModbusReply> reply(
      plc.sendReadRequest(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, 8), 1));
  ASSERT_TRUE(reply && runLinkUntil([&] { return reply->isFinished(); }));
  ASSERT_EQ(reply->error(), QModbusDevice::NoError);
  EXPECT_EQ(reply->result().value(2), 1250);  // A's 12.50 kg, low word
  plc.disconnectDevice();

  plant.stop();
  EXPECT_TRUE(runLinkUntil(
      [&] { return HttpClient(static_cast<quint16>(http)).get("/healthz").status == 0; }));

  const int second = freePort();
  writeNetSettings("[http]\nenabled=true\nport=" + std::to_string(second) + "\n");
  plant.start();
  EXPECT_TRUE(runLinkUntil(
      [&] { return HttpClient(static_cast<quint16>(second)).get("/healthz").status == 200; }));
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
}

TEST_F(PlantServicesTest, TheServicesAnswerWhileTheLinksThreadIsBusy) {
  const int http = freePort();
  writeNetSettings("[http]\nenabled=true\nport=" + std::to_string(http) + "\n");
  plant.start();
  ASSERT_TRUE(runLinkUntil(
      [&] { return HttpClient(static_cast<quint16>(http)).get("/healthz").status == 200; }));
  // This thread runs the link and the windows; it now runs no event at all while it asks.
  EXPECT_EQ(statusLineWithoutEventLoop(http, "/api/v1/scales/A", 5000), "HTTP/1.1 200 OK");
}

TEST_F(PlantServicesTest, CapturesAndCommandsByHttpAreTakenOnTheLinksThread) {
  const int http = freePort();
  writeNetSettings("[http]\nenabled=true\nport=" + std::to_string(http) +
                   "\ntoken=0123456789abcdef-plant-IT\ncommands=true\n");
  plant.start();
  HttpClient client(static_cast<quint16>(http));
  ASSERT_TRUE(runLinkUntil([&] { return client.get("/healthz").status == 200; }));

  HttpClient::Pending capture = client.startPost("/api/v1/scales/A/captures", {}, kBearer);
  ASSERT_TRUE(runLinkUntil([&] { return capture.finished(); }));
  const HttpReply taken = capture.reply();
  ASSERT_EQ(taken.status, 201) << taken.body.toStdString();
  EXPECT_EQ(taken.json()["text"].toString(), QStringLiteral("12.50 kg"));
  EXPECT_EQ(plant.weighings().desk().newest(1).at(0).sequence,
            static_cast<uint64_t>(taken.json()["sequence"].toInteger()));

  HttpClient::Pending zero =
      client.startPost("/api/v1/scales/B/commands", R"({"command":"Z"})", kBearer);
  ASSERT_TRUE(runLinkUntil([&] { return zero.finished(); }));
  EXPECT_EQ(zero.reply().status, 202) << zero.reply().body.toStdString();
  EXPECT_TRUE(runLinkUntil([&] { return app->linkStats().scale(1).commands == 1; }));

  HttpClient::Pending gone = client.startPost("/api/v1/scales/D/captures", {}, kBearer);
  ASSERT_TRUE(runLinkUntil([&] { return gone.finished(); }));
  EXPECT_EQ(gone.reply().status, 503) << gone.reply().body.toStdString();  // D is silent
}

}  // namespace
}  // namespace trv4::test
