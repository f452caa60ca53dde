// The API, /metrics, /healthz and the dashboard's files through a real client.
#include <map>

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include "http/metrics_text.h"
#include "net/weight_message.h"
#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

TEST_F(HttpFixture, TheApiAnswersWhatThePanelsShowForPolledScalesOnlyBesideTheDashboard) {
  app->state().ScanList[4] = 0;  // E: not polled, not on the line
  auto server = serve();
  HttpClient client(server->port());
  const QJsonArray list = client.get("/api/v1/scales").json().array();
  ASSERT_EQ(list.size(), 4);
  for (int i = 0; i < 4; ++i) {
    // The weight message MQTT publishes (its time is when the panel changed).
    QJsonObject got = list[i].toObject();
    EXPECT_EQ(got["time"].toString().size(), 24) << i;
    got.remove("time");
    QJsonObject published = jsonObject(QByteArray::fromStdString(
        weightMessage(scaleAddress(i), app->monitor().panel(i).view, app->state().UnitFlag, 0)));
    published.remove("time");
    EXPECT_EQ(got, published) << i;
  }
  EXPECT_EQ(list[0].toObject()["text"], "12.50 kg");  // the panels are not blank
  sim.scale('A')->load = 20;
  tk.advance(1000);
  EXPECT_EQ(client.get("/api/v1/scales/A").json().object()["text"], "20.00 kg");
  for (const char* path : {"/api/v1/scales/E", "/api/v1/scales/%40"})
    EXPECT_EQ(client.get(path).status, 404) << path;
  // The dashboard is served from the program itself, and fetches nothing from elsewhere.
  const HttpReply page = client.get("/");
  EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page.header("Content-Security-Policy").indexOf("default-src 'none'"), -1);
  EXPECT_EQ(page.body.indexOf("://"), -1);
}

TEST_F(HttpFixture, AnyOtherMethodOnAPathGets405WithTheMethodsItTakes) {
  auto server = serve();
  HttpClient client(server->port());
  std::map<QString, QList<QByteArray>> allowed;
  for (const HttpServer::RouteName& route : HttpServer::routes())
    allowed[QString(route.path).replace("<arg>", "A")].append(route.method);
  ASSERT_GE(allowed.size(), 8u);
  for (const auto& [path, methods] : allowed) {
    for (const QByteArray method : {"GET", "HEAD", "POST", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
      if (methods.contains(method)) continue;
      const HttpReply r = client.send(method, path);
      EXPECT_EQ(QByteArray::number(r.status) + " " + r.header("Allow"), "405 " + methods.join(", "))
          << method.toStdString() << " " << path.toStdString();
    }
  }
}

TEST_F(HttpFixture, WritesAreOffWithoutATokenAndAWrongTokenGets401AndNothingElse) {
  const HttpReply open = HttpClient(serve()->port()).post("/api/v1/scales/A/captures", {}, kBearer);
  EXPECT_EQ(open.status, 503);
  EXPECT_EQ(open.json().object()["error"], "writes off");
  auto server = serve(withToken());
  HttpClient client(server->port());
  for (const QByteArray& authorization : {QByteArray(), "Bearer " + kToken + "x"}) {
    const HttpReply r = client.post("/api/v1/scales/A/captures", {}, authorization);
    EXPECT_EQ(r.status, 401) << authorization.toStdString();
    EXPECT_EQ(r.json().object(), QJsonObject({{"error", "unauthorized"}}));
    // Not even a bad address or bad parameters are looked at.
    EXPECT_EQ(client.post("/api/v1/scales/%3F/captures", "{", authorization).status, 401);
  }
  EXPECT_TRUE(desk.asked.empty());
}

TEST_F(HttpFixture, ACaptureIsAnsweredWhenTheDeskIsDoneWithTheOutcomeAsItsStatus) {
  auto server = serve(withToken());
  HttpClient client(server->port());
  auto pending =
      client.startPost("/api/v1/scales/B/captures", R"({"stable":5,"timeout_ms":2000})", kBearer);
  ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
  const CaptureRequest& asked = desk.open.front().request;
  EXPECT_EQ(std::tie(asked.scale, asked.stableAnswers, asked.timeoutMs, asked.requestedBy),
            std::make_tuple(1, 5, 2000, std::string("http")));
  EXPECT_FALSE(runUntil([&] { return pending.finished(); }, 100));  // it waits for the desk
  desk.commitNext("-1.25 kg", -125, 2, true);
  ASSERT_TRUE(runUntil([&] { return pending.finished(); }));
  EXPECT_EQ(pending.reply().status, 201);
  EXPECT_EQ(pending.reply().json().object(),
            jsonObject(R"({"sequence":1,"address":"B","text":"-1.25 kg","weight":-1.25,)"
                       R"("digits":-125,"decimals":2,"unit":"kg","net":true,"requestedBy":"http",)"
                       R"("time":"2026-12-06T14:03:59.123Z","delivered":false})"));

  // Each way a capture does not come about, with its status and the desk's sentence.
  const std::tuple<CaptureFailure, int, const char*> failures[] = {
      {CaptureFailure::kMoving, 409, "moving"},
      {CaptureFailure::kNotPolled, 409, "not polled"},
      {CaptureFailure::kOffRange, 422, "off range"},
      {CaptureFailure::kNotAWeight, 422, "not a weight"},
      {CaptureFailure::kNoAnswer, 503, "no answer"},
      {CaptureFailure::kJournal, 500, "journal"},
  };
  for (const auto& [failure, status, error] : failures) {
    auto p = client.startPost("/api/v1/scales/A/captures", {}, kBearer);
    ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
    desk.failNext(failure, "The weight of scale A did not settle.");
    ASSERT_TRUE(runUntil([&] { return p.finished(); }));
    EXPECT_EQ(p.reply().status, status) << error;
    EXPECT_EQ(
        p.reply().json().object(),
        QJsonObject({{"error", error}, {"message", "The weight of scale A did not settle."}}));
  }

  // What is asked wrongly is refused before the desk hears of it.
  const std::size_t before = desk.asked.size();
  EXPECT_EQ(client.post("/api/v1/scales/A/captures?timeout_ms=99", {}, kBearer).status, 400);
  EXPECT_EQ(desk.asked.size(), before);

  // A client that leaves before the outcome: the outcome finds no one, and the server serves on.
  auto gone = client.startPost("/api/v1/scales/C/captures", {}, kBearer);
  ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
  gone.abort();
  runUntil([] { return false; }, 100);
  desk.commitNext("1.00 kg", 100, 2);
  EXPECT_EQ(client.get("/api/v1/scales/C").status, 200);

  // Pulling: after a sequence number, at most limit, oldest first.
  for (int i = 0; i < 5; ++i) desk.commitOther(0, "12.50 kg", 1250, 2);
  const QJsonObject page = client.get("/api/v1/captures?after=3&limit=2").json().object();
  EXPECT_EQ(page["captures"].toArray()[1].toObject()["sequence"].toInteger(), 5);
  EXPECT_EQ(page["last"].toInteger(), 5);
  EXPECT_EQ(client.get("/api/v1/captures?after=7").json().object()["last"].toInteger(), 7);

  withDesk = false;  // a program without captures
  auto without = serve(withToken());
  EXPECT_EQ(HttpClient(without->port()).get("/api/v1/captures").status, 503);
  EXPECT_EQ(HttpClient(without->port()).post("/api/v1/scales/A/captures", {}, kBearer).status, 503);
}

TEST_F(HttpFixture, CommandsAreOffUnlessTurnedOnWithATokenAndAGate) {
  const auto commandOf = [](HttpServer& server, const QByteArray& authorization) {
    return HttpClient(server.port())
        .post("/api/v1/scales/A/commands", R"({"command":"T"})", authorization);
  };
  EXPECT_EQ(commandOf(*serve(), kBearer).status, 503);
  auto off = serve(withToken(false));
  EXPECT_EQ(commandOf(*off, "Bearer nope").status, 401);  // the token is checked first
  EXPECT_EQ(commandOf(*off, kBearer).status, 503);
  withCommands = false;  // no gate connected
  EXPECT_EQ(commandOf(*serve(withToken(true)), kBearer).status, 503);
  withCommands = true;
  auto server = serve(withToken(true));
  const HttpReply queued = commandOf(*server, kBearer);
  EXPECT_EQ(queued.status, 202);
  EXPECT_EQ(queued.json().object(),
            QJsonObject({{"address", "A"}, {"command", "T"}, {"queued", true}}));
  HttpClient(server->port()).post("/api/v1/scales/%40/commands?command=Z", {}, kBearer);
  EXPECT_EQ(commands.queued, (std::vector<std::pair<int, char>>{{0, 'T'}, {-1, 'Z'}}));
  commands.refusal = "a calibration runs on scale A";
  const HttpReply refused = commandOf(*server, kBearer);
  EXPECT_EQ(refused.status, 409);
  EXPECT_EQ(refused.json().object()["message"], "a calibration runs on scale A");
}

// The values are http_rules_test's; here what the program hands over, linted by promtool.
TEST_F(HttpFixture, MetricsAreValidPrometheusTextWithEveryPolledScale) {
  mqtt = true;
  sparkplug = SparkplugCounters{.connected = true, .messages = 40, .ignored = 2, .refused = 1};
  desk.commitOther(0, "12.50 kg", 1250, 2);
  tk.advance(1000);
  auto server = serve();
  const HttpReply r = HttpClient(server->port()).get("/metrics");
  EXPECT_EQ(r.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  for (const char* line :
       {"trv4_scale_weight{scale=\"A\",unit=\"kg\"} 12.50", "trv4_scale_answering{scale=\"D\"} 0",
        "trv4_mqtt_connected 1", "trv4_sparkplug_messages_total 40",
        "trv4_captures_waiting_for_delivery 1", "trv4_serial_port_open 1",
        "trv4_http_connections 1", "trv4_http_dashboards 0"})
    EXPECT_NE(r.body.indexOf("\n" + QByteArray(line) + "\n"), -1) << line << "\n"
                                                                  << r.body.toStdString();
  EXPECT_EQ(r.body.indexOf("{scale=\"E\""), -1);  // not polled
  EXPECT_NE(r.body.indexOf("trv4_scale_last_reply_age_seconds{scale=\"A\"} 0."), -1);
  const QString promtool = QStandardPaths::findExecutable("promtool");
  if (promtool.isEmpty()) GTEST_SKIP() << "promtool (Debian's prometheus package) is not installed";
  for (const QByteArray& metrics :
       {r.body, QByteArray::fromStdString(metricsText(PlantSnapshot{}, {}))}) {
    QProcess check;
    check.start(promtool, {"check", "metrics"});
    ASSERT_TRUE(check.waitForStarted(10000));
    check.write(metrics);
    check.closeWriteChannel();
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString()
                                   << check.readAllStandardError().toStdString();
  }
}

TEST_F(HttpFixture, HealthzIsOkWhilePollingRunsAndSaysWhyNot) {
  auto server = serve();
  HttpClient client(server->port());
  EXPECT_EQ(client.get("/healthz").json().object(), QJsonObject({{"status", "ok"}}));
  const auto reason = [&] {
    publisher.publishAll();  // the board's heartbeat
    const HttpReply r = client.get("/healthz");
    EXPECT_EQ(r.status, 503);
    return r.json().object()["reason"].toString();
  };
  app->state().ScanList.fill(0);
  EXPECT_EQ(reason(), "no scale is polled");
  app->state().ScanList[0] = 1;
  port.setPortOpen(false);
  EXPECT_EQ(reason(), "the serial port is closed");
  port.setPortOpen(true);
  app->link()->suspend([] {});  // Find Scales has the line
  EXPECT_EQ(reason(), "polling is paused while Find Scales searches the line");
}

}  // namespace
}  // namespace trv4::test
