// The API through a real client: the weights as MQTT publishes them, captures answered when the
// desk is done, the token rules, commands off until turned on, /metrics checked by promtool,
// /healthz and the dashboard's files.
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <map>

#include "net/weight_message.h"
#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

QJsonObject object(const std::string& json) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

TEST_F(HttpFixture, TheApiAnswersWhatThePanelsShowForPolledScalesOnly) {
  app->state().ScanList[4] = 0;  // E: not polled, not on the line
  auto server = serve();
  HttpClient client(server->port());

  const HttpReply all = client.get("/api/v1/scales");
  ASSERT_EQ(all.status, 200);
  EXPECT_EQ(all.header("Content-Type"), "application/json");
  const QJsonArray list = all.json().array();
  ASSERT_EQ(list.size(), 4);
  for (int i = 0; i < 4; ++i) {
    // The weight message MQTT publishes, field for field (its time is when the panel changed).
    QJsonObject got = list[i].toObject();
    const std::string time = got["time"].toString().toStdString();
    EXPECT_EQ(time.size(), 24u) << time;
    got.remove("time");
    QJsonObject published = object(
        weightMessage(scaleAddress(i), app->monitor().panel(i).view, app->state().UnitFlag, 0));
    published.remove("time");
    EXPECT_EQ(got, published) << i;
  }
  EXPECT_EQ(list[0].toObject()["text"], "12.50 kg");
  EXPECT_EQ(list[0].toObject()["weight"].toDouble(), 12.5);
  EXPECT_EQ(list[1].toObject()["weight"].toDouble(), -1.25);
  EXPECT_TRUE(list[2].toObject()["weight"].isNull());  // a text
  EXPECT_EQ(list[3].toObject()["text"], "");           // silent: blanked
  EXPECT_TRUE(list[3].toObject()["weight"].isNull());

  const HttpReply a = client.get("/api/v1/scales/A");
  ASSERT_EQ(a.status, 200);
  EXPECT_EQ(a.json().object(), list[0].toObject());

  // A weight that changes is answered changed.
  sim.scale('A')->load = 20;
  tk.advance(1000);
  EXPECT_EQ(client.get("/api/v1/scales/A").json().object()["text"], "20.00 kg");

  for (const char* path : {"/api/v1/scales/E", "/api/v1/scales/%5E", "/api/v1/scales/a",
                           "/api/v1/scales/AB", "/api/v1/scales/%40", "/api/v1/nothing"}) {
    const HttpReply missing = client.get(path);
    EXPECT_EQ(missing.status, 404) << path;
    EXPECT_FALSE(missing.json().object()["message"].toString().isEmpty()) << path;
  }
  const HttpReply wrongMethod = client.post("/api/v1/scales");
  EXPECT_EQ(wrongMethod.status, 405);
  EXPECT_EQ(wrongMethod.header("Allow"), "GET");
}

// Walks the route table: below each path is nothing (404), and on each path every method the
// table does not list for it is 405, its Allow naming the ones it does.
TEST_F(HttpFixture, TheRouteTableAnswers404OffItsPathsAnd405WithAllowOffItsMethods) {
  auto server = serve();
  HttpClient client(server->port());
  std::map<QString, QList<QByteArray>> allowed;
  for (const HttpServer::RouteName& route : HttpServer::routes())
    allowed[QString(route.path).replace("<arg>", "A")].append(route.method);
  ASSERT_GE(allowed.size(), 8u);
  for (const auto& [path, methods] : allowed) {
    SCOPED_TRACE(path.toStdString());
    const QString below = (path == "/" ? "" : path) + "/no/such";
    EXPECT_EQ(client.get(below).status, 404);
    EXPECT_EQ(client.post(below).status, 404);
    for (const QByteArray method : {"GET", "HEAD", "POST", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
      if (methods.contains(method)) continue;
      const HttpReply r = client.send(method, path);
      EXPECT_EQ(r.status, 405) << method.toStdString();
      EXPECT_EQ(r.header("Allow"), methods.join(", ")) << method.toStdString();
    }
  }
}

TEST_F(HttpFixture, WritesAreOffWithoutATokenAndAWrongTokenGets401AndNothingElse) {
  {
    auto open = serve();  // no token
    const HttpReply r = HttpClient(open->port()).post("/api/v1/scales/A/captures", {}, kBearer);
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.json().object()["error"], "writes off");
  }
  auto server = serve(withToken());
  HttpClient client(server->port());
  const QByteArray wrong[] = {"",
                              "Bearer",
                              "Bearer ",
                              "Bearer " + kToken.left(kToken.size() - 1),
                              "Bearer " + kToken + "x",
                              "Basic " + kToken.toBase64(),
                              "Bearer  " + kToken.toUpper(),
                              kToken};
  for (const QByteArray& authorization : wrong) {
    const HttpReply r = client.post("/api/v1/scales/A/captures", {}, authorization);
    EXPECT_EQ(r.status, 401) << authorization.toStdString();
    EXPECT_EQ(r.header("WWW-Authenticate"), "Bearer");
    EXPECT_EQ(r.json().object(), QJsonObject({{"error", "unauthorized"}}));
    // Not even a bad address or bad parameters are looked at.
    EXPECT_EQ(client.post("/api/v1/scales/%3F/captures", "{", authorization).status, 401);
  }
  EXPECT_TRUE(desk.asked.empty());

  // The scheme's name in any case, and the right token: the capture is asked for.
  auto pending = client.startPost("/api/v1/scales/A/captures", {}, "bearer " + kToken);
  ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
  desk.commitNext("12.50 kg", 1250, 2);
  ASSERT_TRUE(runUntil([&] { return pending.finished(); }));
  EXPECT_EQ(pending.reply().status, 201);
}

TEST_F(HttpFixture, ACaptureIsAnsweredWhenTheDeskIsDoneWithTheOutcomeAsItsStatus) {
  auto server = serve(withToken());
  HttpClient client(server->port());

  auto pending =
      client.startPost("/api/v1/scales/B/captures", R"({"stable":5,"timeout_ms":2000})", kBearer);
  ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
  const CaptureRequest& asked = desk.open.front().request;
  EXPECT_EQ(asked.scale, 1);
  EXPECT_EQ(asked.stableAnswers, 5);
  EXPECT_EQ(asked.timeoutMs, 2000);
  EXPECT_EQ(asked.requestedBy, "http");
  runUntil([] { return false; }, 100);
  EXPECT_FALSE(pending.finished());  // the answer waits for the desk
  desk.commitNext("-1.25 kg", -125, 2, true);
  ASSERT_TRUE(runUntil([&] { return pending.finished(); }));
  const HttpReply created = pending.reply();
  EXPECT_EQ(created.status, 201);
  const QJsonObject c = created.json().object();
  EXPECT_EQ(c["sequence"].toInteger(), 1);
  EXPECT_EQ(c["address"], "B");
  EXPECT_EQ(c["text"], "-1.25 kg");
  EXPECT_EQ(c["weight"].toDouble(), -1.25);
  EXPECT_EQ(c["digits"].toInteger(), -125);
  EXPECT_EQ(c["decimals"].toInt(), 2);
  EXPECT_EQ(c["net"], true);
  EXPECT_EQ(c["time"], "2026-12-06T14:03:59.123Z");
  EXPECT_EQ(c["requestedBy"], "http");

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
    auto p = client.startPost("/api/v1/scales/A/captures?stable=2", {}, kBearer);
    ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
    EXPECT_EQ(desk.open.front().request.stableAnswers, 2);
    desk.failNext(failure, "The weight of scale A did not settle.");
    ASSERT_TRUE(runUntil([&] { return p.finished(); }));
    EXPECT_EQ(p.reply().status, status) << error;
    EXPECT_EQ(p.reply().json().object()["error"], error);
    EXPECT_EQ(p.reply().json().object()["message"], "The weight of scale A did not settle.");
  }

  // What is asked wrongly is refused before the desk hears of it.
  const std::pair<const char*, QByteArray> bad[] = {
      {"/api/v1/scales/A/captures?stable=0", {}},
      {"/api/v1/scales/A/captures?stable=1.5", {}},
      {"/api/v1/scales/A/captures?timeout_ms=99", {}},
      {"/api/v1/scales/A/captures?colour=red", {}},
      {"/api/v1/scales/A/captures?stable=3", R"({"stable":3})"},
      {"/api/v1/scales/A/captures", R"({"stable":"three"})"},
      {"/api/v1/scales/A/captures", R"({"stable":3)"},
      {"/api/v1/scales/A/captures", R"([3])"},
  };
  const std::size_t before = desk.asked.size();
  for (const auto& [path, body] : bad) {
    const HttpReply r = client.post(path, body, kBearer);
    EXPECT_EQ(r.status, 400) << path << " " << body.toStdString();
    EXPECT_EQ(r.json().object()["error"], "bad request");
  }
  EXPECT_EQ(client.post("/api/v1/scales/_/captures", {}, kBearer).status, 404);
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
  ASSERT_EQ(page["captures"].toArray().size(), 2);
  EXPECT_EQ(page["captures"].toArray()[0].toObject()["sequence"].toInteger(), 4);
  EXPECT_EQ(page["last"].toInteger(), 5);
  EXPECT_EQ(client.get("/api/v1/captures?after=7").json().object()["last"].toInteger(), 7);
  EXPECT_EQ(client.get("/api/v1/captures?limit=1001").status, 400);
  EXPECT_EQ(client.get("/api/v1/captures?after=-1").status, 400);

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
  {
    auto noToken = serve();
    const HttpReply r = commandOf(*noToken, kBearer);
    EXPECT_EQ(r.status, 503);
    EXPECT_NE(r.json().object()["message"].toString().indexOf("commands are off"), -1);
  }
  {
    auto off = serve(withToken(false));
    EXPECT_EQ(commandOf(*off, "Bearer nope").status, 401);  // the token is checked first
    EXPECT_EQ(commandOf(*off, kBearer).status, 503);
  }
  withCommands = false;  // no gate connected
  EXPECT_EQ(commandOf(*serve(withToken(true)), kBearer).status, 503);
  withCommands = true;
  auto server = serve(withToken(true));
  HttpClient client(server->port());
  EXPECT_EQ(commandOf(*server, "Bearer nope").status, 401);
  EXPECT_TRUE(commands.queued.empty());

  const HttpReply queued = commandOf(*server, kBearer);
  EXPECT_EQ(queued.status, 202);
  EXPECT_EQ(queued.json().object()["command"], "T");
  EXPECT_EQ(client.post("/api/v1/scales/%40/commands?command=Z", {}, kBearer).status, 202);
  EXPECT_EQ(commands.queued, (std::vector<std::pair<int, char>>{{0, 'T'}, {-1, 'Z'}}));

  EXPECT_EQ(client.post("/api/v1/scales/A/commands?command=R", {}, kBearer).status, 400);
  EXPECT_EQ(client.post("/api/v1/scales/A/commands", {}, kBearer).status, 400);
  EXPECT_EQ(client.post("/api/v1/scales/%3F/commands?command=Z", {}, kBearer).status, 404);
  commands.refusal = "a calibration runs on scale A";
  const HttpReply refused = commandOf(*server, kBearer);
  EXPECT_EQ(refused.status, 409);
  EXPECT_EQ(refused.json().object()["message"], "a calibration runs on scale A");
  EXPECT_EQ(commands.queued.size(), 2u);
}

TEST_F(HttpFixture, MetricsAreValidPrometheusTextWithEveryPolledScale) {
  mqtt = true;
  desk.commitOther(0, "12.50 kg", 1250, 2);
  app->state().ScanList[29] = 1;  // "^", not on the line: never answered
  tk.advance(1000);
  auto server = serve();
  const HttpReply r = HttpClient(server->port()).get("/metrics");
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(r.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const std::string text = r.body.toStdString();
  const auto has = [&](const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos;
  };
  EXPECT_TRUE(has("trv4_scale_weight{scale=\"A\",unit=\"kg\"} 12.50")) << text;
  EXPECT_TRUE(has("trv4_scale_weight{scale=\"B\",unit=\"kg\"} -1.25"));
  EXPECT_EQ(text.find("trv4_scale_weight{scale=\"C\""), std::string::npos);  // a text
  EXPECT_EQ(text.find("trv4_scale_weight{scale=\"D\""), std::string::npos);  // blank
  EXPECT_TRUE(has("trv4_scale_answering{scale=\"D\"} 0"));
  EXPECT_TRUE(has("trv4_scale_answering{scale=\"A\"} 1"));
  EXPECT_TRUE(has("trv4_scale_bad_frames_total{scale=\"A\",kind=\"bad_check\"} 0"));
  EXPECT_NE(text.find("trv4_scale_last_reply_age_seconds{scale=\"A\"} 0."), std::string::npos);
  EXPECT_EQ(text.find("trv4_scale_last_reply_age_seconds{scale=\"^\"}"), std::string::npos);
  EXPECT_NE(text.find("trv4_scale_timeouts_total{scale=\"^\"} "), std::string::npos);
  EXPECT_EQ(text.find("{scale=\"E\""), std::string::npos);  // not polled
  EXPECT_TRUE(has("trv4_mqtt_connected 1"));
  EXPECT_TRUE(has("trv4_captures_waiting_for_delivery 1"));
  EXPECT_TRUE(has("trv4_serial_port_open 1"));

  // promtool's lint passes, also with MQTT off, no captures and no scale polled.
  mqtt.reset();
  withDesk = false;
  app->state().ScanList.fill(0);
  publisher.publishAll();  // as its heartbeat does
  auto bare = serve();
  const HttpReply empty = HttpClient(bare->port()).get("/metrics");
  EXPECT_EQ(empty.body.indexOf("trv4_mqtt_connected"), -1);
  EXPECT_NE(empty.body.indexOf("trv4_mqtt_enabled 0"), -1);
  const QString promtool = QStandardPaths::findExecutable("promtool");
  if (promtool.isEmpty()) GTEST_SKIP() << "promtool (Debian's prometheus package) is not installed";
  for (const QByteArray& metrics : {r.body, empty.body}) {
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
  const HttpReply ok = client.get("/healthz");
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.json().object()["status"], "ok");

  // Each change reaches the server with the board's heartbeat.
  app->state().ScanList.fill(0);
  publisher.publishAll();
  EXPECT_EQ(client.get("/healthz").json().object()["reason"], "no scale is polled");
  app->state().ScanList[0] = 1;
  port.setPortOpen(false);
  publisher.publishAll();
  const HttpReply closed = client.get("/healthz");
  EXPECT_EQ(closed.status, 503);
  EXPECT_EQ(closed.json().object()["reason"], "the serial port is closed");
  port.setPortOpen(true);
  app->link()->suspend([] {});  // Find Scales has the line
  publisher.publishAll();
  EXPECT_EQ(client.get("/healthz").json().object()["reason"],
            "polling is paused while Find Scales searches the line");
  app->link()->resume();
  tk.advance(500);
  EXPECT_EQ(client.get("/healthz").status, 200);
}

TEST_F(HttpFixture, TheDashboardIsServedFromTheProgramItself) {
  auto server = serve();
  HttpClient client(server->port());
  const HttpReply page = client.get("/");
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page.header("Content-Security-Policy").indexOf("default-src 'none'"), -1);
  EXPECT_NE(page.body.indexOf("<script src=\"dashboard.js\""), -1);
  EXPECT_EQ(page.body.indexOf("://"), -1) << "nothing is fetched from elsewhere";
  EXPECT_EQ(client.get("/dashboard.js").header("Content-Type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(client.get("/dashboard.css").status, 200);
  // The live feed is a WebSocket: a plain request is told so.
  EXPECT_EQ(client.get("/api/v1/live").status, 426);
}

}  // namespace
}  // namespace trv4::test
