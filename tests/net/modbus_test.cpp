// The Modbus server over real TCP on 127.0.0.1, read by Qt's Modbus client, while the link polls
// simulated scales in virtual time; where it listens; clients too many, silent or not reading.
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
#include <algorithm>
#include <list>

#include "net/board_publisher.h"
#include "net/modbus_map.h"
#include "net/modbus_server.h"
#include "tests/support/app_on_sim.h"
#include "tests/support/mqtt_broker.h"

namespace trv4::test {
namespace {

bool accepts(const QHostAddress& address, int port) {
  QTcpSocket socket;
  socket.connectToHost(address, static_cast<quint16>(port));
  return socket.waitForConnected(3000);
}

// A socket to 127.0.0.1:port that never reads; the kernel takes at most receiveBytes for it.
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

int clients(const ModbusServer& server) {
  return static_cast<int>(std::ranges::count(server.findChildren<QTcpSocket*>(),
                                             QAbstractSocket::ConnectedState, &QTcpSocket::state));
}

struct ModbusTest : ::testing::Test, AppOnSim {
  ModbusTest()
      : AppOnSim(fourScales(), "1111"),
        publisher(board, app->monitor(), app->state(), app->linkStats(), port, app->link(), tk) {}

  PlantBoard board;  // what the server reads, kept current as in the program
  BoardPublisher publisher;

  std::unique_ptr<ModbusServer> serve(const ModbusLimits& limits,
                                      const std::string& bind = "127.0.0.1", int port = 0) {
    ModbusSettings settings{true, bind, port != 0 ? port : freeTcpPort()};
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
};

// What each scale's registers mean is proven at the map below; here they reach a PLC.
TEST_F(ModbusTest, APlcReadsEveryScaleAndItsWritesAreRefused) {
  tk.advance(3000);  // polled; the silent scale's display hold has run out
  auto server = serve({});
  QModbusTcpClient client;
  connectClient(client, tcpPort);
  const auto readA = [&] {
    std::vector<quint16> a = read(client, 0);
    EXPECT_TRUE(a.size() == 8u && a[5] < 10) << "answered within the last second";
    if (a.size() == 8u) a[5] = 0;
    return a;
  };
  EXPECT_EQ(readA(), (std::vector<quint16>{1, 0, 1250, 2, 0, 0, 0, 0}));
  EXPECT_EQ(read(client, 3), (std::vector<quint16>{0, 0, 0, 0, 0, 65535, 0, 0}));  // silent
  app->state().UnitFlag = 1;  // pounds: the registers follow at the next refresh
  tk.advance(1500);
  EXPECT_EQ(readA(), (std::vector<quint16>{1, 0, 2756, 2, 1, 0, 0, 0}));

  std::unique_ptr<QModbusReply> refused(
      client.sendWriteRequest(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, {7}), 1));
  ASSERT_TRUE(refused && pumpUntil([&] { return refused->isFinished(); }));
  EXPECT_EQ(refused->error(), QModbusDevice::ProtocolError);
  // The exception's code byte; the PDU's own accessors load the flagged function code into its
  // enum, which the undefined-behaviour checks refuse.
  EXPECT_EQ(refused->rawResult().data(), QByteArray(1, QModbusPdu::IllegalFunction));
}

// bind as written: an address, a name looked up at start, or nothing; never every network when
// it says otherwise. The HTTP server listens through the same code.
TEST_F(ModbusTest, ListensExactlyWhereBindSaysOrNowhere) {
  QHostAddress outside;
  for (const QHostAddress& a : QNetworkInterface::allAddresses())
    if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) outside = a;
  QList<QHostAddress> loopbacks;
  for (const QHostAddress& a : QHostInfo::fromName(QStringLiteral("localhost")).addresses())
    if (!loopbacks.contains(a)) loopbacks.append(a);
  std::vector<std::pair<std::string, QList<QHostAddress>>> cases = {
      {"127.0.0.1", {QHostAddress::LocalHost}},
      {"localhost", loopbacks},
      {"no-such-host.invalid", {}}};  // empty: refused
  if (QTcpServer().listen(QHostAddress::LocalHostIPv6, 0))
    cases.push_back({"::1", {QHostAddress::LocalHostIPv6}});
  for (const auto& [bind, where] : cases) {
    SCOPED_TRACE("bind=" + bind);
    tk.messages.clear();
    auto server = serve({}, bind);
    pumpUntil([&] { return !server->listening().isEmpty() || !tk.messages.empty(); });
    EXPECT_EQ(server->listening(), where);
    for (const QHostAddress& a : where)
      EXPECT_TRUE(accepts(a, tcpPort)) << a.toString().toStdString();
    EXPECT_TRUE(outside.isNull() || !accepts(outside, tcpPort));
    EXPECT_EQ(tk.messages.size(), where.isEmpty() ? 1u : 0u);  // worded as for HTTP
  }
}

// A place that frees is taken again; a client that asks every 100 ms is never idle.
TEST_F(ModbusTest, ClientsBeyondTheLimitOrSilentAreClosedAndAskingOnesAreServed) {
  ModbusLimits limits;
  limits.idleMs = 500;
  auto server = serve(limits);

  // For three idle times; the others say nothing, one of them past the limit.
  Plc asking;
  connectClient(asking.client, tcpPort);
  QTimer ask;
  QObject::connect(&ask, &QTimer::timeout, [&] { asking.ask(); });
  ask.start(100);
  std::list<QTcpSocket> silent(limits.maxClients);
  for (QTcpSocket& s : silent) s.connectToHost(QHostAddress::LocalHost, quint16(tcpPort));
  const auto closed = [&] {
    return std::ranges::count(silent, QAbstractSocket::UnconnectedState, &QTcpSocket::state);
  };
  EXPECT_TRUE(pumpUntil([&] { return clients(*server) == limits.maxClients && closed() == 1; }));

  pumpUntil([] { return false; }, 3 * limits.idleMs);
  ask.stop();
  EXPECT_GE(asking.answers, 10);
  EXPECT_EQ(asking.failures, 0);
  EXPECT_TRUE(pumpUntil([&] { return clients(*server) == 1 && closed() == limits.maxClients; }));

  QModbusTcpClient late;
  connectClient(late, tcpPort);
  EXPECT_EQ(read(late, 0).size(), 8u);
}

// 4 MB of "read 125 input registers" whose answers (21 times the requests) are never read: cut
// off while the unsent answers are still small; a PLC asking meanwhile gets every answer.
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
}

TEST(ModbusMapTest, RegistersFollowWhatThePanelShows) {
  using Regs = std::array<uint16_t, kRegistersPerScale>;
  const struct {
    ScaleReading reading;
    Regs regs;
  } rows[] = {
      {{{"12.50 kg"}, true, 0, 1234}, {1, 0, 1250, 2, 0, 12, 0, 0}},
      // Net and moving, below zero, in pounds; a reply long ago.
      {{{"-0.005 lb", true, true, "M"}, true, 1, 12'345'678},
       {1 | 2 | 4, 0xFFFF, 0xFFFB, 3, 1, 65535}},
      {{{"70000 kg"}, true, 0, 99}, {1, 1, 4464, 0, 0, 0}},
      // Off range, also below zero: no text bit.
      {{PanelView{kOffRangeText}, true, 0, 0}, {1 | 8, 0, 0, 0, 0, 0}},
      // "o" marks the centre of zero, which is no motion.
      {{{"0.00 kg", false, true, "o"}, true, 0, 6'553'499}, {1 | 32, 0, 0, 2, 0, 65534}},
      // A scale's own text; a silent scale never answered.
      {{{" CAL "}, false, 0, 150}, {16, 0, 0, 0, 0, 1}},
      {{{""}, false, 0, -1}, {0, 0, 0, 0, 0, 65535}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(scaleRegisters(row.reading), row.regs) << row.reading.view.text;
}

}  // namespace
}  // namespace trv4::test
