// What the server does with clients that do not play by the rules, over raw sockets: malformed
// and oversized requests, connections that send nothing or too slowly, a hundred at once; and
// where it listens.
#include <QElapsedTimer>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

TEST_F(HttpFixture, MalformedAndOversizedRequestsGet400And413AndTheServerServesOn) {
  auto server = serve();
  const quint16 port = server->port();
  // What Qt's HTTP server cannot read: no request line, another protocol.
  for (const QByteArray& malformed :
       {QByteArray("GARBAGE\r\n\r\n"), QByteArray("GET / FOO/1.1\r\nHost: x\r\n\r\n")}) {
    const RawExchange r = rawExchange(port, malformed);
    EXPECT_EQ(r.status, 400) << malformed.toStdString() << "\n"
                             << r.received.left(200).toStdString();
    EXPECT_TRUE(r.closed);
    EXPECT_NE(r.received.indexOf("\"error\":\"bad request\""), -1);
  }

  const QByteArray filler(20000, 'a');
  const RawExchange headers = rawExchange(
      port, "GET /api/v1/scales HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Filler: " + filler + "\r\n\r\n");
  EXPECT_EQ(headers.status, 413);
  EXPECT_TRUE(headers.closed);
  const RawExchange body = rawExchange(
      port,
      "POST /api/v1/scales/A/captures HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 20000"
      "\r\n\r\n" +
          filler);
  EXPECT_EQ(body.status, 413);
  // A real client that uploads a megabyte reads the refusal too.
  const HttpReply upload =
      HttpClient(port).post("/api/v1/scales/A/captures", QByteArray(1 << 20, 'x'), kBearer);
  EXPECT_EQ(upload.status, 413);

  // Just under the limit, in pieces: read and answered (no token here, so writes are off).
  QByteArray under =
      "POST /api/v1/scales/A/captures HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Length: 15000\r\n\r\n" +
      QByteArray(15000, ' ');
  QTcpSocket pieces;
  pieces.connectToHost(QHostAddress::LocalHost, port);
  ASSERT_TRUE(runUntil([&] { return pieces.state() == QAbstractSocket::ConnectedState; }));
  QByteArray answer;
  for (qsizetype at = 0; at < under.size(); at += 1000) {
    pieces.write(under.mid(at, 1000));
    runUntil([&] { return pieces.bytesToWrite() == 0; });
    runUntil([] { return false; }, 5);
  }
  ASSERT_TRUE(runUntil([&] {
    answer += pieces.readAll();
    return answer.contains("\r\n\r\n{");
  }));
  EXPECT_TRUE(answer.startsWith("HTTP/1.1 503")) << answer.toStdString();

  EXPECT_EQ(HttpClient(port).get("/api/v1/scales/A").status, 200);
}

TEST_F(HttpFixture, ConnectionsThatSendNothingOrTooSlowlyAreClosed) {
  HttpLimits limits;
  limits.guard.idleMs = 300;
  auto server = serve({}, limits);
  const quint16 port = server->port();

  const RawExchange silent = rawExchange(port, {});
  EXPECT_TRUE(silent.closed);
  EXPECT_TRUE(silent.received.isEmpty());
  EXPECT_GE(silent.closedAfterMs, 250);

  const RawExchange begun = rawExchange(port, "GET /api/v1/scales HTTP/1.1\r\nHost: x\r\n");
  EXPECT_EQ(begun.status, 408);
  EXPECT_TRUE(begun.closed);

  // Kept alive after its answer, then closed when it asks nothing more.
  const RawExchange kept = rawExchange(port, "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(kept.status, 200);
  EXPECT_TRUE(kept.closed);

  // A byte every 50 ms does not hold a connection open: the limit counts from its start.
  QTcpSocket drip;
  bool closed = false;
  QObject::connect(&drip, &QTcpSocket::disconnected, [&] { closed = true; });
  drip.connectToHost(QHostAddress::LocalHost, port);
  QTimer writer;
  writer.setInterval(50);
  QObject::connect(&writer, &QTimer::timeout, [&] {
    if (drip.state() == QAbstractSocket::ConnectedState) drip.write("X");
  });
  QElapsedTimer dripping;
  dripping.start();
  writer.start();
  EXPECT_TRUE(runUntil([&] { return closed; }, 5000));
  EXPECT_LT(dripping.elapsed(), 2000);
  EXPECT_TRUE(drip.readAll().startsWith("HTTP/1.1 408"));

  EXPECT_TRUE(runUntil([&] { return server->connections() == 0; }, 3000));
}

TEST_F(HttpFixture, AHundredConnectionsAtOnceAreServedOrRefusedCleanly) {
  auto server = serve();
  std::vector<std::unique_ptr<QTcpSocket>> sockets;
  std::vector<QByteArray> received(100);
  std::vector<bool> closed(100, false);
  for (int i = 0; i < 100; ++i) {
    auto socket = std::make_unique<QTcpSocket>();
    QTcpSocket* s = socket.get();
    QObject::connect(s, &QTcpSocket::connected,
                     [s] { s->write("GET /api/v1/scales HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"); });
    QObject::connect(s, &QTcpSocket::readyRead, [s, &received, i] { received[i] += s->readAll(); });
    QObject::connect(s, &QTcpSocket::disconnected, [&closed, i] { closed[i] = true; });
    s->connectToHost(QHostAddress::LocalHost, server->port());
    sockets.push_back(std::move(socket));
  }
  int served = 0, refused = 0;
  const auto count = [&] {
    served = refused = 0;
    for (int i = 0; i < 100; ++i) {
      if (received[i].startsWith("HTTP/1.1 200") && received[i].endsWith("]")) ++served;
      if (received[i].startsWith("HTTP/1.1 503") && closed[i]) ++refused;
    }
    return served + refused == 100;
  };
  ASSERT_TRUE(runUntil(count, 20000)) << served << " served, " << refused << " refused";
  EXPECT_EQ(served, HttpLimits{}.guard.maxConnections);
  EXPECT_EQ(server->connections(), served);
  for (int i = 0; i < 100; ++i) {
    if (received[i].startsWith("HTTP/1.1 503")) {
      EXPECT_NE(received[i].indexOf("Retry-After: 1"), -1);
    }
  }
  sockets.clear();
  EXPECT_TRUE(runUntil([&] { return server->connections() == 0; }));
  EXPECT_EQ(HttpClient(server->port()).get("/healthz").status, 200);
}

// bind as written: an address, a name looked up at start, or nothing; a port that is taken.
TEST_F(HttpFixture, ListensExactlyWhereBindSaysOrTellsWhyNot) {
  QList<QHostAddress> loopbacks;
  for (const QHostAddress& a : QHostInfo::fromName(QStringLiteral("localhost")).addresses())
    if (!loopbacks.contains(a)) loopbacks.append(a);
  HttpSettings settings;
  settings.enabled = true;
  settings.port = 0;
  settings.bind = "localhost";
  auto named = std::make_unique<HttpServer>(settings, sources());
  ASSERT_EQ(named->start(), "");
  ASSERT_TRUE(runUntil([&] { return !named->listening().isEmpty() || !tk.messages.empty(); }));
  EXPECT_EQ(named->listening(), loopbacks);
  for (const QTcpServer* socket : named->findChildren<QTcpServer*>())
    EXPECT_TRUE(loopbacks.contains(socket->serverAddress()));
  for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
    if (a.isLoopback() || a.protocol() != QAbstractSocket::IPv4Protocol) continue;
    QTcpSocket outside;
    outside.connectToHost(a, named->port());
    EXPECT_FALSE(outside.waitForConnected(1000)) << a.toString().toStdString();
  }

  settings.bind = "no-such-host.invalid";
  auto nowhere = std::make_unique<HttpServer>(settings, sources());
  ASSERT_EQ(nowhere->start(), "");
  ASSERT_TRUE(runUntil([&] { return !tk.messages.empty(); }));
  EXPECT_NE(tk.messages[0].find("\"bind\" in [http] is no-such-host.invalid, which is no address"),
            std::string::npos)
      << tk.messages[0];
  EXPECT_NE(tk.messages[0].find("the HTTP server stays off"), std::string::npos);
  EXPECT_TRUE(nowhere->listening().isEmpty());

  QTcpServer holder;
  ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
  settings.bind = "127.0.0.1";
  settings.port = holder.serverPort();
  tk.messages.clear();
  EXPECT_EQ(startHttpServer(settings, sources()), nullptr);
  ASSERT_EQ(tk.messages.size(), 1u);
  EXPECT_NE(tk.messages[0].find("The HTTP server can not listen on 127.0.0.1 port " +
                                std::to_string(settings.port)),
            std::string::npos)
      << tk.messages[0];
  settings.enabled = false;
  EXPECT_EQ(startHttpServer(settings, sources()), nullptr);
  EXPECT_EQ(tk.messages.size(), 1u);
}

}  // namespace
}  // namespace trv4::test
