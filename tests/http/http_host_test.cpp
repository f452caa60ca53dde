// What the server checks of every request before any route: that it names this server (a page
// of another site whose name resolves to this PC gets nothing), that only the live feed is
// upgraded; and that Qt's own logging never shows the token.
#include <QLoggingCategory>
#include <QTcpSocket>
#include <mutex>

#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

struct Answer {
  int status = 0;  // 0: none came
  QByteArray received;
  bool closed = false;
};

// Writes request on a new connection and waits for one whole answer (its head, and its body by
// Content-Length), or for the server to close.
Answer answerTo(quint16 port, const QByteArray& request) {
  QTcpSocket socket;
  Answer out;
  QObject::connect(&socket, &QTcpSocket::disconnected, [&] { out.closed = true; });
  socket.connectToHost(QHostAddress::LocalHost, port);
  if (!runUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; })) return out;
  socket.write(request);
  runUntil([&] {
    out.received += socket.readAll();
    const qsizetype head = out.received.indexOf("\r\n\r\n");
    if (head < 0) return out.closed;
    const qsizetype length = out.received.indexOf("Content-Length: ");
    const int body = length < 0 ? 0 : out.received.mid(length + 16).split('\r')[0].toInt();
    return out.closed || out.received.size() >= head + 4 + body;
  });
  if (out.received.startsWith("HTTP/1.1 ")) out.status = out.received.mid(9, 3).toInt();
  return out;
}

QByteArray get(const QByteArray& path, const QByteArray& headers) {
  return "GET " + path + " HTTP/1.1\r\n" + headers + "\r\n";
}

QByteArray handshake(const QByteArray& host, const QByteArray& origin = {}) {
  QByteArray h = "Host: " + host +
                 "\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
  if (!origin.isEmpty()) h += "Origin: " + origin + "\r\n";
  return get("/api/v1/live", h);
}

TEST_F(HttpFixture, OnlyTheServersOwnNamesAreServedAndEveryOtherGets421) {
  HttpSettings settings = withToken();
  settings.hosts = {"Plant-PC.example.com", "[::1]"};
  auto server = serve(settings);
  const quint16 port = server->port();
  const QByteArray p = QByteArray::number(port);
  const std::pair<QByteArray, int> hosts[] = {
      {"Host: 127.0.0.1\r\n", 200},
      {"Host: 127.0.0.1:" + p + "\r\n", 200},
      {"Host: localhost:" + p + "\r\n", 200},
      {"Host: LOCALHOST\r\n", 200},
      {"Host: plant-pc.example.com:" + p + "\r\n", 200},
      {"Host: plant-pc.EXAMPLE.com.\r\n", 200},
      {"Host: [::1]:" + p + "\r\n", 200},  // listed in hosts=
      {"", 200},                           // HTTP/1.0 without a Host
      {"Host: evil.example:" + p + "\r\n", 421},
      {"Host: evil.example\r\n", 421},
      {"Host: 127.0.0.1:" + QByteArray::number(port + 1) + "\r\n", 421},
      {"Host: 127.0.0.2:" + p + "\r\n", 421},
      {"Host: 127.0.0.1@evil.example\r\n", 421},
      {"Host: evil.example/127.0.0.1\r\n", 421},
      {"Host: localhost.evil.example\r\n", 421},
      {"Host:\r\n", 421},
      {"Host: 127.0.0.1\r\nHost: evil.example\r\n", 400},
  };
  for (const auto& [headers, status] : hosts) {
    for (const QByteArray path : {"/api/v1/scales", "/healthz", "/", "/nothing-here"}) {
      const Answer a = answerTo(port, get(path, headers));
      const int expected = status == 200 && path == "/nothing-here" ? 404 : status;
      EXPECT_EQ(a.status, expected) << headers.toStdString() << path.toStdString();
      if (status == 421) {
        EXPECT_TRUE(a.received.contains("\"error\":\"misdirected request\""));
      }
    }
  }
  // Nothing else runs for a foreign name: no capture, no command, no WebSocket.
  const QByteArray foreign = "Host: evil.example:" + p + "\r\nAuthorization: " + kBearer + "\r\n";
  EXPECT_EQ(answerTo(port, "POST /api/v1/scales/A/captures HTTP/1.1\r\n" + foreign +
                               "Content-Length: 0\r\n\r\n")
                .status,
            421);
  EXPECT_TRUE(desk.asked.empty());
  const Answer rebound = answerTo(port, handshake("evil.example:" + p, "http://evil.example:" + p));
  EXPECT_EQ(rebound.status, 421) << rebound.received.toStdString();
  QByteArray elsewhere = handshake("evil.example:" + p);
  elsewhere.replace("/api/v1/live", "/api/v1/scales");
  EXPECT_EQ(answerTo(port, elsewhere).status, 421);
  EXPECT_TRUE(rebound.closed);
  EXPECT_EQ(server->dashboards(), 0);
  EXPECT_EQ(answerTo(port, handshake("127.0.0.1:" + p)).status, 101);

  // Listening on every address: each address of this PC is a name of the server, no other is.
  HttpSettings everywhere;
  everywhere.enabled = true;
  everywhere.bind = "0.0.0.0";
  everywhere.port = 0;
  HttpServer wide(everywhere, sources());
  ASSERT_EQ(wide.start(), "");
  const QByteArray w = QByteArray::number(wide.port());
  EXPECT_EQ(answerTo(wide.port(), get("/healthz", "Host: 127.0.0.1:" + w + "\r\n")).status, 200);
  EXPECT_EQ(answerTo(wide.port(), get("/healthz", "Host: 192.0.2.7:" + w + "\r\n")).status, 421);
}

TEST_F(HttpFixture, OnlyTheLiveFeedIsUpgradedAndARefusedUpgradeRunsNothing) {
  auto server = serve(withToken());
  const QByteArray p = QByteArray::number(server->port());
  const QByteArray host = "Host: 127.0.0.1:" + p + "\r\nAuthorization: " + kBearer + "\r\n";
  const QByteArray websocket =
      "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
      "Sec-WebSocket-Version: 13\r\n";
  const QByteArray upgrades[] = {
      "POST /api/v1/scales/A/captures HTTP/1.1\r\n" + host + websocket +
          "Content-Length: 0\r\n\r\n",
      "POST /api/v1/scales/A/captures HTTP/1.1\r\n" + host +
          "Upgrade: websocket\r\nContent-Length: 0\r\n\r\n",
      "POST /api/v1/scales/A/commands?command=T HTTP/1.1\r\n" + host + websocket +
          "Content-Length: 0\r\n\r\n",
      get("/api/v1/scales", host + "Connection: Upgrade\r\nUpgrade: h2c\r\n"),
      get("/nothing-here", host + websocket),
  };
  for (const QByteArray& request : upgrades) {
    const Answer a = answerTo(server->port(), request);
    EXPECT_EQ(a.status, 400) << request.toStdString() << "\n" << a.received.toStdString();
  }
  EXPECT_TRUE(desk.asked.empty());
  EXPECT_TRUE(commands.queued.empty());
  EXPECT_EQ(server->dashboards(), 0);

  // The feed's page may come by any name of the server, whatever the request names.
  auto named = [&](const QByteArray& origin) {
    return answerTo(server->port(), handshake("127.0.0.1:" + p, origin)).status;
  };
  EXPECT_EQ(named("http://localhost:" + p), 101);
  EXPECT_EQ(named("http://127.0.0.1:" + p), 101);
  ASSERT_TRUE(runUntil([&] { return server->dashboards() == 0; }));
  for (const QByteArray& origin :
       {"http://evil.example:" + p, "http://localhost:" + QByteArray::number(server->port() + 1),
        "https://localhost:" + p, QByteArray("null")}) {
    const Answer a = answerTo(server->port(), handshake("127.0.0.1:" + p, origin));
    EXPECT_TRUE(a.closed) << origin.toStdString();  // closed at once, with a policy close
  }
  EXPECT_EQ(server->dashboards(), 0);
}

// Every message Qt and the program print while it lives, with the servers' debug output asked for.
struct CapturedLog {
  CapturedLog() {
    before = qInstallMessageHandler(keep);
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.httpserver*=true\nqt.websockets*=true\ntrv4.probe.debug=true"));
  }
  ~CapturedLog() {
    QLoggingCategory::setFilterRules({});
    qInstallMessageHandler(before);
  }
  static void keep(QtMsgType, const QMessageLogContext&, const QString& text) {
    const std::lock_guard<std::mutex> lock(mutex);
    messages << text;
  }
  QtMessageHandler before;
  static inline std::mutex mutex;
  static inline QStringList messages;
};

TEST_F(HttpFixture, QtsOwnDebugOutputNeverShowsTheToken) {
  auto server = serve(withToken(true));
  {
    const CapturedLog log;
    HttpClient client(server->port());
    HttpClient::Pending capture = client.startPost("/api/v1/scales/A/captures", {}, kBearer);
    ASSERT_TRUE(runUntil([&] { return desk.asked.size() == 1; }));
    EXPECT_EQ(client.post("/api/v1/scales/A/commands?command=T", {}, kBearer).status, 202);
    EXPECT_EQ(client.get("/api/v1/scales", kBearer).status, 200);
    // The rules are in force for every other category.
    EXPECT_TRUE(QLoggingCategory("trv4.probe").isDebugEnabled());
  }
  const std::lock_guard<std::mutex> lock(CapturedLog::mutex);
  for (const QString& m : CapturedLog::messages)
    EXPECT_FALSE(m.contains(QString::fromLatin1(kToken))) << m.toStdString();
}

}  // namespace
}  // namespace trv4::test
