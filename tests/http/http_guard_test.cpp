// Clients that break the rules, over raw sockets; and a server that cannot listen.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

TEST_F(HttpFixture, MalformedAndOversizedRequestsGet400And413AndTheServerServesOn) {
  auto server = serve();
  const QByteArray filler(20000, 'a');
  const QByteArray post = "POST /api/v1/scales/A/captures HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  const std::tuple<QByteArray, int, QByteArray> refused[] = {
      {"GARBAGE\r\n\r\n", 400, "bad request"},
      {post + "X-Filler: " + filler + "\r\n\r\n", 413, "too large"},
      {post + "Content-Length: 20000\r\n\r\n" + filler, 413, "too large"},
  };
  for (const auto& [request, status, error] : refused) {
    const RawExchange r = rawExchange(server->port(), request);
    EXPECT_EQ(r.status, status) << request.left(40).toStdString();
    EXPECT_TRUE(r.closed);
    EXPECT_NE(r.received.indexOf("\"error\":\"" + error + "\""), -1);
  }
  // Just under the limit: read and answered (no token here, so writes are off).
  RawConnection under(server->port());
  under.write(post + "Content-Length: 15000\r\n\r\n" + QByteArray(15000, ' '));
  ASSERT_TRUE(runUntil([&] { return under.received.contains("\r\n\r\n{"); }));
  EXPECT_EQ(under.statuses(), QList<int>{503}) << under.received.toStdString();
}

TEST_F(HttpFixture, ConnectionsThatSendNothingOrTooSlowlyAreClosed) {
  HttpLimits limits;
  limits.guard.idleMs = 300;
  auto server = serve({}, limits);
  // Silent; a request begun and not ended; kept alive after its answer and then silent.
  const std::pair<QByteArray, int> rows[] = {
      {{}, 0}, {"GET /api/v1/scales HTTP/1.1\r\nHost: 127.0.0.1\r\n", 408}, {kHealthz, 200}};
  for (const auto& [request, status] : rows) {
    const RawExchange r = rawExchange(server->port(), request);
    EXPECT_EQ(r.status, status) << request.toStdString();
    EXPECT_TRUE(r.closed);
    EXPECT_GE(r.closedAfterMs, 250);
  }
  // A byte every 50 ms does not hold a connection open: the limit counts from its start.
  RawConnection drip(server->port());
  QTimer writer;
  QObject::connect(&writer, &QTimer::timeout, [&] { drip.write("X"); });
  QElapsedTimer dripping;
  dripping.start();
  writer.start(50);
  EXPECT_TRUE(runUntil([&] { return drip.closed; }, 5000));
  EXPECT_LT(dripping.elapsed(), 2000);
  EXPECT_EQ(drip.statuses(), QList<int>{408});
  EXPECT_TRUE(runUntil([&] { return server->connections() == 0; }, 3000));
}

// A client that pipelines big answers and reads none: the server holds at most its limit plus
// one answer, serves all once the client reads, and lets go of a client whose answers stay.
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
  const int asked = 27000 / static_cast<int>(ask.size());
  flood.write(ask.repeated(asked));
  qint64 most = 0;
  runUntil(
      [&] {
        most = std::max(most, server->unsentBytes());
        return false;
      },
      1000);
  EXPECT_GT(most, limits.guard.maxUnsentBytes);  // the network is full: the limit was met
  EXPECT_LE(most, limits.guard.maxUnsentBytes + answer + 1024);
  flood.startReading();
  ASSERT_TRUE(runUntil([&] { return flood.statuses().size() >= asked; }, 20000));
  EXPECT_EQ(flood.statuses(), QList<int>(asked, 200));
  EXPECT_FALSE(flood.closed);

  // Asking on and on while reading nothing: the answers stop moving, and so does the clock.
  limits.guard.idleMs = 300;
  limits.guard.sendBufferBytes = 4096;
  auto strict = serve({}, limits);
  RawConnection deaf(strict->port(), false);
  QTimer asking;
  QObject::connect(&asking, &QTimer::timeout, [&] { deaf.write(ask.repeated(4)); });
  asking.start(50);
  EXPECT_TRUE(runUntil([&] { return deaf.closed; }, 30000));  // a loaded machine fills slowly
  EXPECT_TRUE(runUntil([&] { return strict->connections() == 0; }));
}

// Clients of one address that send their requests a byte at a time, reconnecting when closed,
// take at most their share: a new client still gets its answer.
TEST_F(HttpFixture, SlowConnectionsDoNotLockANewClientOut) {
  HttpLimits limits;
  limits.guard.maxConnections = 8;
  limits.guard.maxPerAddress = 4;
  limits.guard.loopbackReserve = 1;
  limits.guard.tokenReserve = 1;
  auto server = serve({}, limits);
  std::vector<std::unique_ptr<RawConnection>> twelve(12);
  const auto open = [&](std::unique_ptr<RawConnection>& c) {
    c = std::make_unique<RawConnection>(server->port());
    c->write("GET /healthz HTTP/1.1\r\n");
  };
  for (auto& c : twelve) open(c);
  // The four it holds wait for more; the others are turned away.
  ASSERT_TRUE(runUntil([&] {
    return server->connections() == 4 &&
           std::count_if(twelve.begin(), twelve.end(),
                         [](const auto& c) { return c->closed || !c->received.isEmpty(); }) == 8;
  })) << server->connections();
  QTimer trickle;
  QObject::connect(&trickle, &QTimer::timeout, [&] {
    for (auto& c : twelve) c->closed ? open(c) : c->write("X");
  });
  trickle.start(20);
  int answered = 0;
  for (int i = 0; i < 10; ++i) answered += HttpClient(server->port()).get("/healthz").status == 200;
  EXPECT_GE(answered, 9);
}

// Past one address's share, this PC keeps a seat, the token another; the rest are turned away.
TEST_F(HttpFixture, BeyondTheLimitsOnlyThisPCAndTheTokenGetASeat) {
  HttpLimits limits;
  limits.guard.maxPerAddress = 2;
  limits.guard.loopbackReserve = 1;
  limits.guard.tokenReserve = 1;
  auto server = serve(withToken(), limits);
  // Busy, so none may go: each waits for its capture.
  std::vector<std::unique_ptr<RawConnection>> busy;
  const auto hold = [&](std::unique_ptr<RawConnection> c) {
    c->write(kCaptureA);
    busy.push_back(std::move(c));
    return runUntil([&] { return desk.open.size() == busy.size(); });
  };
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(hold(std::make_unique<RawConnection>(server->port()))) << i;
  // Who comes, with the token or not (then holding a capture too, when let in), from where, and
  // the status it gets (503: closed after it).
  const std::tuple<const char*, bool, QHostAddress, int> newcomers[] = {
      {"no token, on trial", false, QHostAddress::LocalHost, 503},
      {"token, on trial", true, QHostAddress::LocalHost, 200},
      {"no seat left", true, QHostAddress::LocalHost, 503},
      {"another address", false, QHostAddress("127.0.0.2"), 200}};
  for (const auto& [who, token, from, status] : newcomers) {
    auto c = std::make_unique<RawConnection>(server->port(), true, from);
    c->write("GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
             (token ? "Authorization: " + kBearer + "\r\n" : QByteArray()) + "\r\n");
    const bool refused = status == 503;
    ASSERT_TRUE(runUntil([&] { return c->statuses().size() == 1 && (c->closed || !refused); }))
        << who << ": " << c->received.toStdString();
    EXPECT_EQ(c->statuses()[0], status) << who;
    EXPECT_EQ(c->received.contains("Retry-After: 1"), refused) << who;
    EXPECT_EQ(c->closed, refused) << who;
    ASSERT_TRUE(!token || refused || hold(std::move(c))) << who;
  }
  while (!desk.open.empty()) desk.commitNext("12.50 kg", 1250, 2);
  for (const auto& b : busy) EXPECT_TRUE(runUntil([&] { return b->statuses().endsWith(201); }));
}

TEST_F(HttpFixture, AKeptAliveConnectionEndsAfterItsRequestsOrItsTime) {
  HttpLimits limits;
  limits.guard.maxRequests = 3;
  limits.guard.maxLifeMs = 400;
  auto server = serve({}, limits);
  RawConnection many(server->port());
  many.write(kHealthz.repeated(5));
  ASSERT_TRUE(runUntil([&] { return many.closed; }));
  EXPECT_EQ(many.statuses(), (QList<int>{200, 200, 200}));

  RawConnection steady(server->port());
  QElapsedTimer alive;
  alive.start();
  steady.write(kHealthz.repeated(2));
  ASSERT_TRUE(runUntil([&] { return steady.closed; }));
  EXPECT_GE(alive.elapsed(), 350);
  EXPECT_LT(alive.elapsed(), 3000);
  EXPECT_EQ(steady.statuses(), (QList<int>{200, 200}));
}

// The wording is modbus_test's; here the HTTP server telling it, and left off.
TEST_F(HttpFixture, AServerThatCannotListenTellsWhyAndStaysOff) {
  QTcpServer holder;
  ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
  HttpSettings settings;  // on 127.0.0.1
  settings.enabled = true;
  settings.port = holder.serverPort();
  EXPECT_EQ(startHttpServer(settings, sources()), nullptr);
  ASSERT_EQ(tk.messages.size(), 1u);
  EXPECT_EQ(tk.messages[0].rfind("The HTTP server can not listen on 127.0.0.1", 0), 0u)
      << tk.messages[0];
  settings.enabled = false;
  EXPECT_EQ(startHttpServer(settings, sources()), nullptr);
  EXPECT_EQ(tk.messages.size(), 1u);
}

}  // namespace
}  // namespace trv4::test
