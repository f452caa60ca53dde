// The dashboard's live feed through real WebSocket clients: what it sends, and to whom.
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>

#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

struct Dashboard {
  explicit Dashboard(quint16 port, const QString& origin = {}) : socket(origin) {
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
      messages.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
    });
    QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/live").arg(port)));
  }
  // The next message of type, waiting for it; empty when none came.
  QJsonObject next(const QString& type) {
    runUntil([&] {
      for (; read < messages.size(); ++read)
        if (messages[read]["type"] == type) return true;
      return false;
    });
    return read < messages.size() ? messages[read++] : QJsonObject();
  }
  QWebSocket socket;
  std::vector<QJsonObject> messages;
  std::size_t read = 0;
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
  const QJsonObject first = page.next("snapshot");
  EXPECT_EQ(field(first["scales"].toArray(), "text"),
            QStringList({"12.50 kg", "-1.25 kg", "ZYGOS", ""}));
  EXPECT_EQ(field(first["link"].toArray(), "answering"), QStringList({"1", "1", "1", "0"}));
  EXPECT_EQ(first["captures"].toArray().size(), 1);
  EXPECT_EQ(first["writes"], true);

  sim.scale('A')->load = 20;
  tk.advance(1000);
  const QJsonArray weights = page.next("weights")["scales"].toArray();
  EXPECT_EQ(field(weights, "address") + field(weights, "text"), QStringList({"A", "20.00 kg"}));
  const QJsonObject link = page.next("link");
  EXPECT_EQ(field(link["link"].toArray(), "address"), QStringList({"A", "B", "C", "D"}));
  desk.commitOther(0, "20.00 kg", 2000, 2);
  EXPECT_EQ(page.next("capture")["capture"].toObject()["sequence"].toInteger(), 2);

  // A scale switched off: a new snapshot without it.
  app->monitor().toggleScan(1);
  publisher.publishAll();  // as its heartbeat does
  EXPECT_EQ(field(page.next("snapshot")["scales"].toArray(), "address"),
            QStringList({"A", "C", "D"}));
  page.socket.close();
  EXPECT_TRUE(runUntil([&] { return server->dashboards() == 0; }));
}

TEST_F(HttpFixture, ADashboardJoiningMeanwhileLeavesTheOthersTheirChanges) {
  HttpLimits limits;
  limits.feedBatchMs = 1500;
  auto server = serve({}, limits);
  Dashboard first(server->port());
  ASSERT_FALSE(first.next("snapshot").isEmpty());
  sim.scale('A')->load = 30;
  tk.advance(1000);
  Dashboard second(server->port());
  EXPECT_EQ(second.next("snapshot")["scales"].toArray()[0].toObject()["text"], "30.00 kg");
  EXPECT_EQ(first.next("weights")["scales"].toArray()[0].toObject()["text"], "30.00 kg");
}

// A page of another site (see http_rules_test) or a dashboard past the bound gets a policy close.
TEST_F(HttpFixture, APageOfAnotherSiteOrPastTheBoundGetsNoFeed) {
  HttpLimits limits;
  limits.maxDashboards = 2;
  auto server = serve({}, limits);
  const quint16 port = server->port();
  Dashboard foreign(port, "http://weights.example.com");
  Dashboard own(port, QStringLiteral("http://localhost:%1").arg(port));
  ASSERT_TRUE(runUntil([&] { return foreign.closed && !own.messages.empty(); }));
  EXPECT_EQ(own.messages[0]["writes"], false);  // no token: the page offers no capture
  Dashboard second(port);
  ASSERT_TRUE(runUntil([&] { return !second.messages.empty(); }));
  Dashboard full(port);
  ASSERT_TRUE(runUntil([&] { return full.closed; }));
  for (const Dashboard* refused : {&foreign, &full}) {
    EXPECT_EQ(refused->socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    EXPECT_TRUE(refused->messages.empty());
  }
  EXPECT_EQ(server->dashboards(), 2);
}

// Raw clients open the feed, flood masked pings and read next to nothing: Qt's answers to them
// pile up with no message of the feed's own to send, and pass the feed's bound.
TEST_F(HttpFixture, DashboardsFloodingPingsWithoutReadingAreDropped) {
  HttpLimits limits;
  limits.feedLinkMs = 600000;  // the feed itself sends nothing after the snapshot
  auto server = serve({}, limits);
  Dashboard reader(server->port());
  const QByteArray pings =
      (QByteArray("\x89\xfd\x01\x02\x03\x04", 6) + QByteArray(125, 'p')).repeated(512);
  std::vector<std::unique_ptr<QTcpSocket>> floods;
  for (int i = 0; i < 4; ++i) {
    floods.push_back(std::make_unique<QTcpSocket>());
    floods.back()->setReadBufferSize(1024);
    floods.back()->connectToHost(QHostAddress::LocalHost, server->port());
    floods.back()->write(handshake("/api/v1/live", "Host: 127.0.0.1\r\n"));
  }
  ASSERT_TRUE(runUntil([&] { return server->dashboards() == 5; }));
  qint64 sent = 0;
  runUntil(
      [&] {
        int open = 0;
        for (auto& f : floods) {
          if (f->state() != QAbstractSocket::ConnectedState) continue;
          ++open;
          if (f->bytesToWrite() < pings.size()) sent += f->write(pings);
        }
        return open == 0 || sent > 1 << 30;  // a gigabyte: never stopped
      },
      30000);
  for (auto& f : floods) EXPECT_NE(f->state(), QAbstractSocket::ConnectedState) << sent;
  EXPECT_TRUE(runUntil([&] { return server->dashboards() == 1; }));
  EXPECT_FALSE(reader.closed);
}

}  // namespace
}  // namespace trv4::test
