// The Modbus server over real TCP on 127.0.0.1, read by Qt's Modbus client, while the link polls
// simulated scales in virtual time: weights (one negative, then in pounds), a text, a silent
// scale, and a refused write; where it listens for each kind of bind address; and clients that
// connect too often, say nothing or read nothing.
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QModbusTcpClient>
#include <QModbusTcpServer>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cmath>

#include "net/board_publisher.h"
#include "net/modbus_map.h"
#include "net/modbus_server.h"
#include "tests/support/app_on_sim.h"
#include "tests/support/mqtt_broker.h"

namespace trv4::test {
namespace {

// Whether a TCP connection to address:port is taken.
bool accepts(const QHostAddress& address, int port) {
  QTcpSocket socket;
  socket.connectToHost(address, static_cast<quint16>(port));
  return socket.waitForConnected(3000);
}

std::vector<std::string> texts(const QList<QHostAddress>& addresses) {
  std::vector<std::string> out;
  for (const QHostAddress& a : addresses) out.push_back(a.toString().toStdString());
  return out;
}

// An address of this PC that is not a loopback one, or a null one when it has none.
QHostAddress outsideAddress() {
  for (const QHostAddress& a : QNetworkInterface::allAddresses())
    if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) return a;
  return {};
}

// A plain socket connected to 127.0.0.1:port that never reads; the kernel takes at most
// receiveBytes for it.
int connectUnreading(int port, int receiveBytes) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "no connection";
  return fd;
}

// A PLC that asks for scale A's registers again as soon as its last answer is in.
struct Plc {
  void ask() {
    if (reply && !reply->isFinished()) return;
    if (reply) (reply->error() == QModbusDevice::NoError ? answers : failures)++;
    reply.reset(client.sendReadRequest(
        QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, kRegistersPerScale), 1));
  }
  QModbusTcpClient client;
  std::unique_ptr<QModbusReply> reply;
  int answers = 0, failures = 0;
};

// The server's clients connected now.
int clients(const ModbusServer& server) {
  const QList<QTcpSocket*> sockets = server.findChildren<QTcpSocket*>();
  return static_cast<int>(std::count_if(sockets.begin(), sockets.end(), [](const QTcpSocket* s) {
    return s->state() == QAbstractSocket::ConnectedState;
  }));
}

struct ModbusTest : ::testing::Test, AppOnSim {
  ModbusTest()
      : AppOnSim(fourScales(), "1111"),
        publisher(board, app->monitor(), app->state(), app->linkStats(), port, app->link(), tk) {}

  PlantBoard board;  // what the server reads, kept current as in the program
  BoardPublisher publisher;

  // A server on 127.0.0.1 at a free port, with limits.
  std::unique_ptr<ModbusServer> serve(const ModbusLimits& limits) {
    ModbusSettings settings;
    settings.enabled = true;
    settings.port = freeTcpPort();
    auto server = std::make_unique<ModbusServer>(settings, board, tk);
    server->setLimits(limits);
    EXPECT_EQ(server->start(), "");
    tcpPort = settings.port;
    return server;
  }
  static void connectClient(QModbusTcpClient& client, int port) {
    client.setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                  QStringLiteral("127.0.0.1"));
    client.setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
    ASSERT_TRUE(client.connectDevice());
    ASSERT_TRUE(pumpUntil([&] { return client.state() == QModbusDevice::ConnectedState; }));
  }
  int tcpPort = 0;  // of the server serve() started

  // The registers of scale i as the client reads them.
  std::vector<quint16> read(QModbusTcpClient& client, int scale) {
    std::unique_ptr<QModbusReply> reply(
        client.sendReadRequest(QModbusDataUnit(QModbusDataUnit::InputRegisters,
                                               scale * kRegistersPerScale, kRegistersPerScale),
                               1));
    if (!reply || !pumpUntil([&] { return reply->isFinished(); }) ||
        reply->error() != QModbusDevice::NoError)
      return {};
    const QList<quint16> v = reply->result().values();
    return {v.begin(), v.end()};
  }
  static double weight(const std::vector<quint16>& r) {
    const auto raw = static_cast<int32_t>((uint32_t{r[1]} << 16) | r[2]);
    return raw / std::pow(10.0, r[3]);
  }
};

TEST_F(ModbusTest, APlcReadsEveryScaleAndItsWritesAreRefused) {
  tk.advance(3000);  // polled; the silent scale's display hold has run out
  ModbusSettings settings;
  settings.enabled = true;
  settings.port = freeTcpPort();
  ModbusServer server(settings, board, tk);
  ASSERT_EQ(server.start(), "");
  QModbusTcpClient client;
  client.setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                QStringLiteral("127.0.0.1"));
  client.setConnectionParameter(QModbusDevice::NetworkPortParameter, settings.port);
  ASSERT_TRUE(client.connectDevice());
  ASSERT_TRUE(pumpUntil([&] { return client.state() == QModbusDevice::ConnectedState; }));

  const std::vector<quint16> a = read(client, 0), b = read(client, 1), c = read(client, 2),
                             d = read(client, 3);
  ASSERT_TRUE(a.size() == 8 && b.size() == 8 && c.size() == 8 && d.size() == 8);
  EXPECT_EQ(a[0] & 1, 1);  // answered
  EXPECT_DOUBLE_EQ(weight(a), 12.5);
  EXPECT_EQ(a[4], 0);   // kg
  EXPECT_LT(a[5], 10);  // answered within the last second
  EXPECT_DOUBLE_EQ(weight(b), -1.25);
  EXPECT_EQ(c[0] & 16, 16);  // a text is shown
  EXPECT_EQ(weight(c), 0);
  EXPECT_EQ(d[0] & 1, 0);  // never answered
  EXPECT_EQ(d[5], 65535);

  // Pounds: the next replies are shown in lb, the registers follow at the next refresh.
  app->state().UnitFlag = 1;
  tk.advance(1500);
  const std::vector<quint16> pounds = read(client, 0);
  ASSERT_EQ(pounds.size(), 8u);
  EXPECT_EQ(pounds[4], 1);
  EXPECT_NEAR(weight(pounds), 12.5 * kPoundFactor, 0.01);

  // The port closed: no scale answers, though the panels keep their last weights.
  port.setPortOpen(false);
  tk.advance(500);
  const std::vector<quint16> closed = read(client, 1);
  ASSERT_EQ(closed.size(), 8u);
  EXPECT_EQ(closed[0] & 1, 0);
  port.setPortOpen(true);

  QModbusDataUnit write(QModbusDataUnit::HoldingRegisters, 0, 1);
  write.setValue(0, 7);
  std::unique_ptr<QModbusReply> refused(client.sendWriteRequest(write, 1));
  ASSERT_TRUE(refused && pumpUntil([&] { return refused->isFinished(); }));
  EXPECT_EQ(refused->error(), QModbusDevice::ProtocolError);
  // The exception's code byte; the PDU's own accessors load the flagged function code into its
  // enum, which the undefined-behaviour checks refuse.
  const QByteArray code = refused->rawResult().data();
  ASSERT_EQ(code.size(), 1);
  EXPECT_EQ(code.at(0), QModbusPdu::IllegalFunction);
  // The server lets go of a client's buffers when it sees the client leave.
  bool gone = false;
  QObject::connect(server.findChild<QModbusTcpServer*>(),
                   &QModbusTcpServer::modbusClientDisconnected, [&] { gone = true; });
  client.disconnectDevice();
  EXPECT_TRUE(pumpUntil([&] { return gone; }));
}

// bind as written: an address, a name looked up at start, or nothing; never every network when
// it says otherwise. What the sockets themselves are bound to is read back from them.
TEST_F(ModbusTest, ListensExactlyWhereBindSaysOrNowhere) {
  const QHostAddress outside = outsideAddress();
  QList<QHostAddress> loopbacks;
  for (const QHostAddress& a : QHostInfo::fromName(QStringLiteral("localhost")).addresses())
    if (!loopbacks.contains(a)) loopbacks.append(a);
  ASSERT_FALSE(loopbacks.isEmpty());
  const bool ipv6 = QTcpServer().listen(QHostAddress::LocalHostIPv6, 0);

  struct Case {
    std::string bind;
    QList<QHostAddress> where;  // empty: refused
  };
  std::vector<Case> cases = {{"127.0.0.1", {QHostAddress::LocalHost}},
                             {"localhost", loopbacks},
                             {"no-such-host.invalid", {}},
                             {"", {}}};
  if (ipv6) cases.push_back({"::1", {QHostAddress::LocalHostIPv6}});
  for (const Case& c : cases) {
    SCOPED_TRACE("bind=" + c.bind);
    tk.messages.clear();
    ModbusSettings settings;
    settings.enabled = true;
    settings.bind = c.bind;
    settings.port = freeTcpPort();
    auto server = std::make_unique<ModbusServer>(settings, board, tk);
    if (const std::string refused = server->start(); !refused.empty())
      tk.messages.push_back(refused);
    pumpUntil([&] { return !server->listening().isEmpty() || !tk.messages.empty(); });

    QList<QHostAddress> bound;
    for (const QTcpServer* socket : server->findChildren<QTcpServer*>())
      if (socket->isListening()) bound.append(socket->serverAddress());
    EXPECT_EQ(texts(bound), texts(c.where));
    EXPECT_EQ(texts(server->listening()), texts(c.where));
    for (const QHostAddress& a : c.where)
      EXPECT_TRUE(accepts(a, settings.port)) << a.toString().toStdString();
    if (!outside.isNull()) {
      EXPECT_FALSE(accepts(outside, settings.port));
    }
    if (c.where.isEmpty()) {
      EXPECT_FALSE(accepts(QHostAddress::LocalHost, settings.port));
      ASSERT_EQ(tk.messages.size(), 1u);
      EXPECT_NE(tk.messages[0].find("\"bind\" in [modbus]"), std::string::npos) << tk.messages[0];
      EXPECT_NE(tk.messages[0].find("stays off"), std::string::npos) << tk.messages[0];
    } else {
      EXPECT_TRUE(tk.messages.empty()) << tk.messages[0];
    }
  }

  // A name whose address is taken: said once the look-up is done, and nothing listens.
  QTcpServer holder;
  ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
  tk.messages.clear();
  ModbusSettings taken;
  taken.enabled = true;
  taken.bind = "localhost";
  taken.port = holder.serverPort();
  ModbusServer server(taken, board, tk);
  EXPECT_EQ(server.start(), "");
  ASSERT_TRUE(pumpUntil([&] { return !tk.messages.empty(); }));
  EXPECT_NE(tk.messages[0].find("can not listen on 127.0.0.1 port " + std::to_string(taken.port) +
                                " (bind=localhost)"),
            std::string::npos)
      << tk.messages[0];
  EXPECT_TRUE(server.listening().isEmpty());
  EXPECT_TRUE(server.findChildren<QTcpServer*>().isEmpty());
}

// At most maxClients at once, over every address: one more is closed at once, and a place that
// frees is taken again. A client that asks nothing for idleMs is closed; one that asks every
// 100 ms is served for as long as it asks.
TEST_F(ModbusTest, ClientsBeyondTheLimitOrSilentAreClosedAndAskingOnesAreServed) {
  ModbusLimits limits;
  limits.idleMs = 500;
  auto server = serve(limits);

  // One client asks every 100 ms from the start, for three idle times.
  Plc asking;
  connectClient(asking.client, tcpPort);
  QTimer ask;
  QObject::connect(&ask, &QTimer::timeout, [&] { asking.ask(); });
  ask.start(100);
  QElapsedTimer clock;
  clock.start();

  // The others connect and say nothing; one more than the limit is closed at once.
  std::vector<std::unique_ptr<QTcpSocket>> silent;
  std::vector<bool> closed(limits.maxClients - 1, false);
  for (int i = 0; i + 1 < limits.maxClients; ++i) {
    silent.push_back(std::make_unique<QTcpSocket>());
    QObject::connect(silent.back().get(), &QTcpSocket::disconnected,
                     [&closed, i] { closed[i] = true; });
    silent.back()->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(tcpPort));
  }
  ASSERT_TRUE(pumpUntil([&] { return clients(*server) == limits.maxClients; }, 3000));
  QTcpSocket extra;
  bool extraClosed = false;
  QObject::connect(&extra, &QTcpSocket::disconnected, [&] { extraClosed = true; });
  extra.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(tcpPort));
  EXPECT_TRUE(pumpUntil([&] { return extraClosed; }, 3000));
  EXPECT_EQ(std::count(closed.begin(), closed.end(), true), 0);

  pumpUntil([&] { return clock.elapsed() > 3 * limits.idleMs; });
  ask.stop();
  EXPECT_GE(asking.answers, 10);
  EXPECT_EQ(asking.failures, 0);
  EXPECT_EQ(asking.client.state(), QModbusDevice::ConnectedState);
  EXPECT_EQ(std::count(closed.begin(), closed.end(), true), limits.maxClients - 1);
  EXPECT_TRUE(pumpUntil([&] { return clients(*server) == 1; }, 1000));

  // The places are free again.
  QModbusTcpClient late;
  connectClient(late, tcpPort);
  EXPECT_EQ(read(late, 0).size(), 8u);
}

// A client that sends 4 MB of "read 125 input registers" as fast as it can and reads none of the
// answers (21 times its requests) is closed while its unsent answers are still small; a PLC
// asking meanwhile gets every answer.
TEST_F(ModbusTest, AFloodOfRequestsWhoseAnswersAreNotReadIsCutOffEarly) {
  const ModbusLimits limits;
  auto server = serve(limits);
  Plc plc;
  connectClient(plc.client, tcpPort);

  QByteArray chunk;  // transaction 1, protocol 0, length 6, unit 1, function 4, from 0, 125
  for (int i = 0; i < 341; ++i) chunk += QByteArray::fromHex("00010000000601040000007d");
  const int flood = connectUnreading(tcpPort, 16 * 1024);
  ASSERT_TRUE(pumpUntil([&] { return clients(*server) == 2; }, 3000));

  qint64 sent = 0, mostUnsent = 0;
  bool cut = false;
  QElapsedTimer clock;
  clock.start();
  while (!cut && sent < 4 * 1024 * 1024 && clock.elapsed() < 60000) {
    const ssize_t n =
        send(flood, chunk.constData() + sent % chunk.size(),
             static_cast<size_t>(chunk.size() - sent % chunk.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) sent += n;
    cut = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    for (const QTcpSocket* s : server->findChildren<QTcpSocket*>())
      mostUnsent = std::max(mostUnsent, s->bytesToWrite());
    plc.ask();
  }
  close(flood);
  EXPECT_TRUE(cut) << sent << " bytes of requests sent";
  EXPECT_LT(mostUnsent, 2 * limits.maxUnsentBytes);
  EXPECT_GE(plc.answers, 1);
  EXPECT_EQ(plc.failures, 0);
  EXPECT_TRUE(pumpUntil([&] { return clients(*server) == 1; }, 3000));
  EXPECT_EQ(read(plc.client, 1).size(), 8u);
}

TEST(ModbusMapTest, RegistersFollowWhatThePanelShows) {
  ScaleReading r;
  r.view.text = "-0.005 lb";
  r.view.netVisible = true;
  r.view.motionVisible = true;
  r.view.motionText = "M";
  r.answered = true;
  r.unitFlag = 1;
  r.sinceReplyMs = 12'345'678;
  const auto regs = scaleRegisters(r);
  EXPECT_EQ(regs[0], 1 | 2 | 4);
  EXPECT_EQ(static_cast<int32_t>((uint32_t{regs[1]} << 16) | regs[2]), -5);
  EXPECT_EQ(regs[3], 3);
  EXPECT_EQ(regs[5], 65535);
  r.view = PanelView{kOffRangeText};
  EXPECT_EQ(scaleRegisters(r)[0], 1 | 8);
  r.view = PanelView{"-Off Range"};  // below zero: off range too, no text
  EXPECT_EQ(scaleRegisters(r)[0], 1 | 8);
  r.view = PanelView{"0.00 kg", false, true, "o"};
  EXPECT_EQ(scaleRegisters(r)[0], 1 | 32);
}

}  // namespace
}  // namespace trv4::test
