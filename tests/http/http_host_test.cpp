// What the server checks of every request before any route, over raw sockets (which names are
// its own is http_rules_test's); and that Qt's own logging never shows the token.
#include <QLoggingCategory>
#include <mutex>

#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

// Writes request on a new connection and waits for one answer (each here is JSON or a 101).
RawExchange answerTo(quint16 port, const QByteArray& request) {
  RawConnection c(port);
  c.write(request);
  runUntil([&] { return c.closed || c.received.endsWith("}") || c.statuses().contains(101); });
  return {c.received, c.closed, c.statuses().value(0)};
}

TEST_F(HttpFixture, ARequestNamingAnotherHostGets421BeforeAnyRoute) {
  HttpSettings settings = withToken();
  settings.hosts = {"Plant-PC.example.com"};
  auto server = serve(settings);
  const quint16 port = server->port();
  const QByteArray p = QByteArray::number(port);
  const std::pair<QByteArray, int> hosts[] = {
      {"Host: plant-pc.example.com:" + p + "\r\n", 200},
      {"", 200},  // no Host: no browser sends that
      {"Host: evil.example:" + p + "\r\n", 421},
      {"Host: 127.0.0.1\r\nHost: evil.example\r\n", 400},
      {"Host: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n", 400},  // not the feed
  };
  for (const auto& [headers, status] : hosts)
    EXPECT_EQ(answerTo(port, "GET /healthz HTTP/1.1\r\n" + headers + "\r\n").status, status)
        << headers.toStdString();
  // No page, no capture, no WebSocket for a foreign name.
  const QByteArray foreign = "Host: evil.example:" + p + "\r\nAuthorization: " + kBearer + "\r\n";
  for (const QByteArray& request :
       {"GET /nothing-here HTTP/1.1\r\n" + foreign + "\r\n",
        "POST /api/v1/scales/A/captures HTTP/1.1\r\n" + foreign + "Content-Length: 0\r\n\r\n",
        handshake("/api/v1/live", foreign + "Origin: http://evil.example:" + p + "\r\n")}) {
    const RawExchange a = answerTo(port, request);
    EXPECT_EQ(a.status, 421) << request.toStdString();
    EXPECT_TRUE(a.received.contains("\"error\":\"misdirected request\""));
  }
  EXPECT_EQ(answerTo(port, handshake("/api/v1/live", "Host: 127.0.0.1:" + p + "\r\n")).status, 101);
}

std::mutex loggedMutex;
QStringList logged;  // every message while the test listens, from any thread

TEST_F(HttpFixture, QtsOwnDebugOutputNeverShowsTheToken) {
  auto server = serve(withToken(true));
  const QtMessageHandler before =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        const std::lock_guard<std::mutex> lock(loggedMutex);
        logged << text;
      });
  QLoggingCategory::setFilterRules(
      QStringLiteral("qt.httpserver*=true\nqt.websockets*=true\ntrv4.probe.debug=true"));
  {
    HttpClient client(server->port());
    HttpClient::Pending capture = client.startPost("/api/v1/scales/A/captures", {}, kBearer);
    EXPECT_TRUE(runUntil([&] { return desk.asked.size() == 1; }));
    EXPECT_EQ(client.post("/api/v1/scales/A/commands?command=T", {}, kBearer).status, 202);
    EXPECT_EQ(client.get("/api/v1/scales", kBearer).status, 200);
  }
  // The rules are in force for every other category.
  EXPECT_TRUE(QLoggingCategory("trv4.probe").isDebugEnabled());
  QLoggingCategory::setFilterRules({});
  qInstallMessageHandler(before);
  const std::lock_guard<std::mutex> lock(loggedMutex);
  for (const QString& m : logged)
    EXPECT_FALSE(m.contains(QString::fromLatin1(kToken))) << m.toStdString();
}

}  // namespace
}  // namespace trv4::test
