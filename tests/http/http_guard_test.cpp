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

  const RawExchange begun = rawExchange(port, "GET /api/v1/scales HTTP/1.1\r\nHost: 127.0.0.1\r\n");
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
  std::vector<std::unique_ptr<RawConnection>> clients;
  for (int i = 0; i < 100; ++i) {
    clients.push_back(std::make_unique<RawConnection>(server->port()));
    clients.back()->write("GET /api/v1/scales HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  }
  int served = 0, refused = 0;
  const auto count = [&] {
    served = refused = 0;
    for (const auto& c : clients) {
      if (c->received.startsWith("HTTP/1.1 200") && c->received.endsWith("]")) ++served;
      if (c->received.startsWith("HTTP/1.1 503") && c->closed) ++refused;
    }
    return served + refused == 100;
  };
  ASSERT_TRUE(runUntil(count, 20000)) << served << " served, " << refused << " refused";
  const GuardLimits limits;
  EXPECT_GE(served, limits.maxPerAddress);
  EXPECT_LE(server->connections(),
            limits.maxPerAddress + limits.loopbackReserve + limits.tokenReserve);
  for (const auto& c : clients)
    if (c->received.startsWith("HTTP/1.1 503")) {
      EXPECT_NE(c->received.indexOf("Retry-After: 1"), -1);
    }
  clients.clear();
  EXPECT_TRUE(runUntil([&] { return server->connections() == 0; }));
  EXPECT_EQ(HttpClient(server->port()).get("/healthz").status, 200);
}

TEST_F(HttpFixture, PipelinedRequestsAreAnsweredInTheirOrder) {
  auto server = serve(withToken());
  RawConnection client(server->port());
  ASSERT_TRUE(client.waitConnected());
  client.write(
      "POST /api/v1/scales/A/captures HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + kBearer +
      "\r\nContent-Length: 0\r\n\r\nGET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
  // The GET waits behind the capture, also when it comes later on its own.
  client.write("GET /api/v1/scales/A HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_FALSE(runUntil([&] { return !client.received.isEmpty(); }, 300));
  desk.commitNext("12.50 kg", 1250, 2);
  ASSERT_TRUE(runUntil([&] { return client.statuses().size() == 3; }));
  EXPECT_EQ(client.statuses(), (QList<int>{201, 200, 200}));
  EXPECT_TRUE(client.received.endsWith("}"));
  EXPECT_NE(client.received.indexOf("\"address\":\"A\""), -1);
}

// A client that pipelines big answers and reads none of them: the server holds at most its
// limit plus one answer, serves every request once the client reads, and lets go of a client
// whose answers do not move.
TEST_F(HttpFixture, AClientThatDoesNotReadHoldsLittleAndIsLetGoWhenItTakesNothing) {
  for (int i = 0; i < 50; ++i) desk.commitOther(i % 4, "12.50 kg", 1250, 2);
  HttpLimits limits;
  limits.guard.maxUnsentBytes = 4096;
  limits.guard.idleMs = 3000;
  auto server = serve({}, limits);
  const QByteArray ask = "GET /api/v1/captures?limit=1000 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const qint64 answer = HttpClient(server->port()).get("/api/v1/captures?limit=1000").body.size();
  ASSERT_GT(answer, limits.guard.maxUnsentBytes);

  RawConnection flood(server->port(), false);
  ASSERT_TRUE(flood.waitConnected());
  const int asked = 27000 / static_cast<int>(ask.size());
  flood.write(ask.repeated(asked));
  qint64 most = 0;
  const qint64 bound = limits.guard.maxUnsentBytes + answer + 1024;
  EXPECT_FALSE(runUntil(
      [&] {
        most = std::max(most, server->unsentBytes());
        return most > bound;
      },
      1000))
      << most;
  EXPECT_GT(most, limits.guard.maxUnsentBytes);  // the network is full: the limit was met
  flood.startReading();
  ASSERT_TRUE(runUntil([&] { return flood.statuses().size() >= asked; }, 20000))
      << flood.statuses().size() << " of " << asked;
  EXPECT_EQ(flood.statuses(), QList<int>(asked, 200));
  EXPECT_FALSE(flood.closed);

  // Asking on and on while reading nothing: the answers stop moving, and so does the clock.
  limits.guard.idleMs = 300;
  limits.guard.sendBufferBytes = 4096;
  auto strict = serve({}, limits);
  RawConnection deaf(strict->port(), false);
  ASSERT_TRUE(deaf.waitConnected());
  QTimer asking;
  QObject::connect(&asking, &QTimer::timeout, [&] { deaf.write(ask.repeated(4)); });
  asking.start(50);
  EXPECT_TRUE(runUntil([&] { return deaf.closed; },
                       30000));  // a loaded machine is slow to fill the buffers
  EXPECT_TRUE(runUntil([&] { return strict->connections() == 0; }));
}

// Clients of one address that keep connections open, idle, or send their requests a byte at a
// time take at most their share: a new client still gets its answer.
TEST_F(HttpFixture, KeptIdleAndSlowConnectionsDoNotLockANewClientOut) {
  HttpLimits limits;
  limits.guard.maxConnections = 8;
  limits.guard.maxPerAddress = 4;
  limits.guard.loopbackReserve = 1;
  limits.guard.tokenReserve = 1;
  auto server = serve({}, limits);
  const quint16 port = server->port();
  struct Crowd {
    const char* kind;
    QByteArray first;  // written at once
    bool trickles;     // then one byte every 20 ms, a closed one opened again
  };
  const Crowd crowds[] = {
      {"kept alive", "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", false},
      {"idle", "", false},
      {"slow", "GET /healthz HTTP/1.1\r\n", true},
  };
  for (const Crowd& crowd : crowds) {
    std::vector<std::unique_ptr<RawConnection>> crowdOf(12);
    const auto open = [&](std::unique_ptr<RawConnection>& c) {
      c = std::make_unique<RawConnection>(port);
      c->write(crowd.first);
    };
    for (auto& c : crowdOf) open(c);
    ASSERT_TRUE(runUntil([&] {
      int settled = 0;
      for (const auto& c : crowdOf) settled += c->closed || !c->received.isEmpty() ? 1 : 0;
      return server->connections() == limits.guard.maxPerAddress &&
             (crowd.first.endsWith("\r\n\r\n") ? settled == 12 : settled == 8);
    })) << crowd.kind
        << ": " << server->connections();
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] {
      for (auto& c : crowdOf) c->closed ? open(c) : c->write("X");
    });
    if (crowd.trickles) trickle.start(20);
    int answered = 0;
    for (int i = 0; i < 10; ++i) answered += HttpClient(port).get("/healthz").status == 200;
    EXPECT_GE(answered, 9) << crowd.kind;
    trickle.stop();
  }
}

// Past what one address may hold, this PC keeps a seat and a holder of the token another; the
// rest are turned away.
TEST_F(HttpFixture, BeyondTheLimitsOnlyThisPCAndTheTokenGetASeat) {
  HttpLimits limits;
  limits.guard.maxPerAddress = 2;
  limits.guard.loopbackReserve = 1;
  limits.guard.tokenReserve = 1;
  auto server = serve(withToken(), limits);
  const quint16 port = server->port();
  const QByteArray capture =
      "POST /api/v1/scales/A/captures HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + kBearer +
      "\r\nContent-Length: 0\r\n\r\n";
  // Busy, so none may go: each waits for its capture; the third sits in the reserve.
  std::vector<std::unique_ptr<RawConnection>> busy;
  for (int i = 0; i < 3; ++i) {
    busy.push_back(std::make_unique<RawConnection>(port));
    busy.back()->write(capture);
    ASSERT_TRUE(runUntil([&] { return desk.open.size() == busy.size(); })) << i;
  }
  struct Newcomer {
    const char* who;
    QByteArray authorization;
    QHostAddress from;
    int status;
    bool closed;
    QByteArray then;  // asked after the answer
  };
  const Newcomer newcomers[] = {
      {"no token, on trial", "", QHostAddress::LocalHost, 503, true, {}},
      {"token, on trial", kBearer, QHostAddress::LocalHost, 200, false, capture},
      {"no seat left", kBearer, QHostAddress::LocalHost, 503, true, {}},
      {"another address", "", QHostAddress("127.0.0.2"), 200, false, {}},
  };
  for (const Newcomer& n : newcomers) {
    auto c = std::make_unique<RawConnection>(port, true, n.from);
    ASSERT_TRUE(c->waitConnected()) << n.who;
    QByteArray ask = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!n.authorization.isEmpty()) ask += "Authorization: " + n.authorization + "\r\n";
    c->write(ask + "\r\n");
    ASSERT_TRUE(runUntil([&] { return c->statuses().size() == 1 && (c->closed || !n.closed); }))
        << n.who << ": " << c->received.toStdString();
    EXPECT_EQ(c->statuses()[0], n.status) << n.who;
    if (n.status == 503) {
      EXPECT_NE(c->received.indexOf("Retry-After: 1"), -1) << n.who;
    }
    EXPECT_EQ(c->closed, n.closed) << n.who;
    if (!n.then.isEmpty()) {
      c->write(n.then);
      ASSERT_TRUE(runUntil([&] { return desk.open.size() == busy.size() + 1; })) << n.who;
      busy.push_back(std::move(c));
    }
  }
  while (!desk.open.empty()) desk.commitNext("12.50 kg", 1250, 2);
  for (const auto& b : busy) EXPECT_TRUE(runUntil([&] { return b->statuses().endsWith(201); }));
}

TEST_F(HttpFixture, AKeptAliveConnectionEndsAfterItsRequestsOrItsTime) {
  HttpLimits limits;
  limits.guard.maxRequests = 3;
  limits.guard.maxLifeMs = 400;
  auto server = serve({}, limits);
  const QByteArray ask = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  RawConnection many(server->port());
  many.write(ask.repeated(5));
  ASSERT_TRUE(runUntil([&] { return many.closed; }));
  EXPECT_EQ(many.statuses(), (QList<int>{200, 200, 200}));

  RawConnection steady(server->port());
  QElapsedTimer alive;
  alive.start();
  QTimer asking;
  QObject::connect(&asking, &QTimer::timeout, [&] {
    if (steady.statuses().size() < 2) steady.write(ask);
  });
  asking.start(100);
  ASSERT_TRUE(runUntil([&] { return steady.closed; }));
  EXPECT_GE(alive.elapsed(), 350);
  EXPECT_LT(alive.elapsed(), 3000);
  EXPECT_EQ(steady.statuses(), (QList<int>{200, 200}));
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
