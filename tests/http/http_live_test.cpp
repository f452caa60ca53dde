// The dashboard's live feed through a real WebSocket client: a snapshot first, then only what
// changed, the link health every second, each capture; only for pages of this server, a bounded
// number of them, and none that floods it.
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>

#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

struct Dashboard {
  // origin: the page's origin a browser names; empty for a client that is no page.
  explicit Dashboard(quint16 port, const QString& origin = {}) : socket(origin) {
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
      messages.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
    });
    QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/live").arg(port)));
  }
  // The first message of type after `from`, waiting for it; empty when none came.
  QJsonObject next(const QString& type, std::size_t* from) {
    QJsonObject found;
    runUntil([&] {
      for (; *from < messages.size(); ++*from)
        if (messages[*from]["type"] == type) {
          found = messages[(*from)++];
          return true;
        }
      return false;
    });
    return found;
  }
  QWebSocket socket;
  std::vector<QJsonObject> messages;
  bool closed = false;
};

QStringList field(const QJsonArray& list, const char* name) {
  QStringList out;
  for (const QJsonValue& v : list) {
    const QJsonValue f = v.toObject()[name];
    out << (f.isBool() ? QString::number(f.toBool()) : f.toString());
  }
  return out;
}

TEST_F(HttpFixture, TheLiveFeedSendsASnapshotThenOnlyWhatChanges) {
  desk.commitOther(2, "1.00 kg", 100, 2);
  auto server = serve(withToken());
  Dashboard page(server->port());
  std::size_t at = 0;
  const QJsonObject first = page.next("snapshot", &at);
  EXPECT_EQ(field(first["scales"].toArray(), "text"),
            QStringList({"12.50 kg", "-1.25 kg", "ZYGOS", ""}));
  EXPECT_EQ(field(first["link"].toArray(), "answering"), QStringList({"1", "1", "1", "0"}));
  EXPECT_EQ(first["captures"].toArray().size(), 1);
  EXPECT_EQ(first["writes"], true);
  EXPECT_EQ(server->dashboards(), 1);

  sim.scale('A')->load = 20;
  tk.advance(1000);
  const QJsonArray weights = page.next("weights", &at)["scales"].toArray();
  EXPECT_EQ(field(weights, "address"), QStringList({"A"}));
  EXPECT_EQ(field(weights, "text"), QStringList({"20.00 kg"}));
  const QJsonObject link = page.next("link", &at);
  EXPECT_EQ(field(link["link"].toArray(), "address"), QStringList({"A", "B", "C", "D"}));
  EXPECT_EQ(link["port"], true);
  EXPECT_EQ(link["health"], "");

  desk.commitOther(0, "20.00 kg", 2000, 2);
  EXPECT_EQ(page.next("capture", &at)["capture"].toObject()["sequence"].toInteger(), 2);

  // A scale switched off: a new snapshot without it.
  app->monitor().toggleScan(1);
  publisher.publishAll();  // as its heartbeat does
  EXPECT_EQ(field(page.next("snapshot", &at)["scales"].toArray(), "address"),
            QStringList({"A", "C", "D"}));
  page.socket.close();
  EXPECT_TRUE(runUntil([&] { return server->dashboards() == 0; }));
}

// A dashboard that joins while changes wait for the next batch does not take them from the others.
TEST_F(HttpFixture, ADashboardJoiningMeanwhileLeavesTheOthersTheirChanges) {
  HttpLimits limits;
  limits.feedBatchMs = 1500;
  auto server = serve({}, limits);
  Dashboard first(server->port());
  std::size_t at = 0, late = 0;
  ASSERT_FALSE(first.next("snapshot", &at).isEmpty());
  sim.scale('A')->load = 30;
  tk.advance(1000);
  Dashboard second(server->port());
  const QJsonObject joined = second.next("snapshot", &late);
  EXPECT_EQ(joined["scales"].toArray()[0].toObject()["text"], "30.00 kg");
  const QJsonObject change = first.next("weights", &at);
  ASSERT_FALSE(change.isEmpty());
  EXPECT_EQ(change["scales"].toArray()[0].toObject()["text"], "30.00 kg");
}

// The feed's page may come by any name of the server; a page of another site gets a policy close,
// and so does a dashboard past the bound.
TEST_F(HttpFixture, APageOfAnotherSiteOrPastTheBoundGetsNoFeed) {
  HttpLimits limits;
  limits.maxDashboards = 2;
  auto server = serve({}, limits);
  const QString self = QStringLiteral("://127.0.0.1:%1").arg(server->port());
  const std::pair<QString, bool> origins[] = {
      {"http" + self, true},
      {QStringLiteral("http://localhost:%1").arg(server->port()), true},
      {"http://weights.example.com", false},
      {"https" + self, false},
      {QStringLiteral("http://127.0.0.1:%1").arg(server->port() + 1), false},
      {"null", false}};
  std::vector<std::unique_ptr<Dashboard>> pages;
  for (const auto& [origin, ok] : origins)
    pages.push_back(std::make_unique<Dashboard>(server->port(), origin));
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(origins[i].first.toStdString());
    ASSERT_TRUE(runUntil([&] { return pages[i]->closed || !pages[i]->messages.empty(); }));
    EXPECT_EQ(pages[i]->messages.empty(), !origins[i].second);
    if (!origins[i].second) {
      EXPECT_EQ(pages[i]->socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    }
  }
  EXPECT_EQ(pages[0]->messages[0]["writes"], false);  // no token: the page offers no capture
  Dashboard full(server->port());
  ASSERT_TRUE(runUntil([&] { return full.closed; }));
  EXPECT_EQ(full.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
  EXPECT_TRUE(full.messages.empty());
  EXPECT_EQ(server->dashboards(), 2);
}

// A client on a raw connection that opens the feed, then sends pings and never reads: Qt answers
// each ping itself, and the answers pile up for it.
struct PingFlood {
  explicit PingFlood(quint16 port) {
    QObject::connect(&socket, &QTcpSocket::disconnected, [this] { closed = true; });
    socket.setReadBufferSize(1024);  // reads next to nothing: the answers stay at the server
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(
        "GET /api/v1/live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
        "\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    // A masked ping with 125 bytes of payload, as a client sends it.
    QByteArray ping("\x89\xfd\x01\x02\x03\x04", 6);
    for (int i = 0; i < 125; ++i) ping += static_cast<char>('p' ^ (i % 4 + 1));
    for (int i = 0; i < 512; ++i) pings += ping;
  }
  // Keeps the line full; the bytes sent so far.
  qint64 send() {
    if (!closed && socket.state() == QAbstractSocket::ConnectedState &&
        socket.bytesToWrite() < pings.size())
      sent += socket.write(pings);
    return sent;
  }
  QTcpSocket socket;
  QByteArray pings;
  qint64 sent = 0;
  bool closed = false;
};

// Dashboards that flood pings and read nothing are dropped once Qt's answers to them pass the
// feed's bound, with no message of the feed's own to send meanwhile; a dashboard that reads stays.
TEST_F(HttpFixture, DashboardsFloodingPingsWithoutReadingAreDropped) {
  HttpLimits limits;
  limits.feedLinkMs = 600000;  // the feed itself sends nothing after the snapshot
  auto server = serve({}, limits);
  Dashboard reader(server->port());
  std::vector<std::unique_ptr<PingFlood>> floods;
  for (int i = 0; i < 4; ++i) floods.push_back(std::make_unique<PingFlood>(server->port()));
  ASSERT_TRUE(runUntil([&] { return server->dashboards() == 5; }));
  const bool dropped = runUntil(
      [&] {
        bool all = true;
        for (auto& f : floods) {
          // A flood that went on past 256 MB was never stopped.
          all = all && (f->closed || f->send() > 256 << 20);
        }
        return all;
      },
      30000);
  EXPECT_TRUE(dropped);
  for (auto& f : floods) EXPECT_TRUE(f->closed) << f->sent;
  EXPECT_TRUE(runUntil([&] { return server->dashboards() == 1; }));
  EXPECT_FALSE(reader.closed);
  EXPECT_FALSE(reader.messages.empty());
}

}  // namespace
}  // namespace trv4::test
