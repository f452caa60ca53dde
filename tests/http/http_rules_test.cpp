// The HTTP server's rules as plain functions: token, names, request values, /metrics values.
#include <gtest/gtest.h>

#include <sstream>

#include "http/bearer_token.h"
#include "http/metrics_text.h"
#include "http/request_params.h"
#include "http/served_names.h"

namespace trv4::test {
namespace {

TEST(BearerToken, OnlyTheExactTokenPasses) {
  const std::string token = "0123456789abcdef";
  EXPECT_TRUE(bearerMatches("Bearer 0123456789abcdef", token));
  EXPECT_TRUE(bearerMatches("bEARER  0123456789abcdef", token));
  for (const char* wrong :
       {"Bearer 0123456789abcde", "Bearer 0123456789abcdef0", "Bearer 0123456789ABCDEF",
        "Bearer0123456789abcdef", "Basic 0123456789abcdef", "Bearer 0123456789abcdef "})
    EXPECT_FALSE(bearerMatches(wrong, token)) << wrong;
  // Without a token nothing passes, not even nothing.
  EXPECT_FALSE(bearerMatches("Bearer ", ""));
  EXPECT_FALSE(sameSecret("", ""));
  EXPECT_FALSE(sameSecret(std::string("0123456789abcdef\0", 17), token));
}

// A Host or a page's Origin of the server listening on 127.0.0.1 port 8080 with hosts= set.
TEST(ServedNames, OnlyTheServersOwnNamesAndItsPortAreServed) {
  const ServedNames names({QHostAddress("127.0.0.1")}, {"Plant-PC.example.com", "[::1]"}, 8080);
  for (const char* host :
       {"127.0.0.1", "localhost:8080", "plant-pc.EXAMPLE.com.:8080", "[::1]:8080"})
    EXPECT_TRUE(names.acceptsHost(host)) << host;
  for (const char* host :
       {"", "127.0.0.1:8081", "127.0.0.2:8080", "127.0.0.1@evil.example", "localhost.evil.example"})
    EXPECT_FALSE(names.acceptsHost(host)) << host;
  EXPECT_TRUE(names.acceptsOrigin("http://LocalHost:8080"));
  for (const char* origin :
       {"http://127.0.0.1", "https://127.0.0.1:8080", "http://weights.example.com:8080", "null"})
    EXPECT_FALSE(names.acceptsOrigin(origin)) << origin;
  // Listening on every address: each address of this PC is a name of the server, no other is.
  const ServedNames any({QHostAddress::Any}, {}, 8080);
  EXPECT_TRUE(any.acceptsHost("127.0.0.1:8080"));
  EXPECT_FALSE(any.acceptsHost("192.0.2.7:8080"));
}

TEST(RequestParams, EachValueIsReadWithinItsRangeOrRefusedWithWhy) {
  // Each reader gives one line of text: the values read, or why not.
  using Reader = std::string (*)(const QUrlQuery&, const QByteArray&, std::string*);
  const Reader captureOf = [](const QUrlQuery& q, const QByteArray& body, std::string* why) {
    const auto p = captureParams(q, body, why);
    return p ? std::to_string(p->stableAnswers) + " " + std::to_string(p->timeoutMs) : *why;
  };
  const Reader commandOf = [](const QUrlQuery& q, const QByteArray& body, std::string* why) {
    const auto c = commandParam(q, body, why);
    return c ? std::string(1, *c) : *why;
  };
  const Reader pageOf = [](const QUrlQuery& q, const QByteArray&, std::string* why) {
    const auto p = capturePage(q, why);
    return p ? std::to_string(p->after) + " " + std::to_string(p->limit) : *why;
  };
  const std::string stable = "\"stable\" must be a whole number from 1 to 50";
  const std::string timeout = "\"timeout_ms\" must be a whole number from 100 to 60000";
  const std::string command = "\"command\" must be \"Z\", \"T\" or \"G\"";
  const std::string limit = "\"limit\" must be a whole number from 1 to 1000";
  const std::tuple<Reader, const char*, QByteArray, std::string> rows[] = {
      {captureOf, "", {}, "3 5000"},
      {captureOf, "stable=1", R"({"timeout_ms":60000})", "1 60000"},
      {captureOf, "", R"({"stable":50,"timeout_ms":100})", "50 100"},
      {captureOf, "stable=0", {}, stable},
      {captureOf, "stable=51", {}, stable},
      {captureOf, "stable=1.5", {}, stable},
      {captureOf, "timeout_ms=99", {}, timeout},
      {captureOf, "timeout_ms=60001", {}, timeout},
      {captureOf, "colour=red", {}, "there is no parameter \"colour\""},
      {captureOf, "stable=3", R"({"stable":3})", "\"stable\" is given twice"},
      {captureOf, "", "[3]", "the body is not a JSON object"},
      {commandOf, "command=G", {}, "G"},
      {commandOf, "", R"({"command":"T"})", "T"},
      {commandOf, "command=t", {}, command},
      {commandOf, "", {}, command},
      {pageOf, "", {}, "0 100"},
      {pageOf, "after=3&limit=1000", {}, "3 1000"},
      {pageOf, "limit=0", {}, limit},
      {pageOf, "limit=1001", {}, limit},
      {pageOf, "after=-1", {}, "\"after\" must be a sequence number, 0 or more"},
  };
  for (const auto& [read, query, body, expected] : rows) {
    std::string why;
    EXPECT_EQ(read(QUrlQuery(QString::fromLatin1(query)), body, &why), expected)
        << query << " " << body.toStdString();
  }
}

// The sample lines of an exposition (no # lines), those that contain `part`.
std::vector<std::string> samples(const std::string& text, const std::string& part = "") {
  std::vector<std::string> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.starts_with("#") && line.find(part) != std::string::npos) out.push_back(line);
  return out;
}

TEST(MetricsText, EverySampleGivesItsOwnValue) {
  PlantSnapshot s;
  s.clockMs = 9000;
  s.staleMs = 1000;
  s.portOpen = true;
  s.mqttConnected = false;
  s.sparkplug = SparkplugCounters{.connected = false, .messages = 300, .ignored = 2, .refused = 1};
  ScaleSnapshot& a = s.scales[0];
  a.polled = a.answering = true;
  a.view = {"-12.50 kg", true, true, "M"};
  // requests, commands, broadcasts, replies, timeouts, bad check, cut, wrong address, noise, naks,
  // last, total and longest reply time, when it last answered.
  a.counters = {11, 2, 99, 10, 1, 3, 4, 5, 6, 7, 42, 300, 120, 7750};
  ScaleSnapshot& b = s.scales[1];  // polled, never answered
  b.polled = true;
  b.counters.timeouts = 8;
  s.scales[2].view.text = "1.00 kg";  // not polled
  const MetricsExtras extras{.capturesWaiting = 5, .httpConnections = 3, .dashboards = 2};
  const std::string text = metricsText(s, extras);
  EXPECT_EQ(
      samples(text, "scale=\"A\""),
      (std::vector<std::string>{
          "trv4_scale_requests_total{scale=\"A\"} 11", "trv4_scale_commands_total{scale=\"A\"} 2",
          "trv4_scale_replies_total{scale=\"A\"} 10", "trv4_scale_timeouts_total{scale=\"A\"} 1",
          "trv4_scale_naks_total{scale=\"A\"} 7",
          "trv4_scale_bad_frames_total{scale=\"A\",kind=\"bad_check\"} 3",
          "trv4_scale_bad_frames_total{scale=\"A\",kind=\"cut\"} 4",
          "trv4_scale_bad_frames_total{scale=\"A\",kind=\"wrong_address\"} 5",
          "trv4_scale_bad_frames_total{scale=\"A\",kind=\"noise\"} 6",
          "trv4_scale_reply_time_seconds{scale=\"A\"} 0.042",
          "trv4_scale_reply_time_max_seconds{scale=\"A\"} 0.120",
          "trv4_scale_last_reply_age_seconds{scale=\"A\"} 2.250",
          "trv4_scale_answering{scale=\"A\"} 1",
          "trv4_scale_weight{scale=\"A\",unit=\"kg\"} -12.50", "trv4_scale_net{scale=\"A\"} 1",
          "trv4_scale_motion{scale=\"A\"} 1", "trv4_scale_off_range{scale=\"A\"} 0"}));
  // Before its first answer a scale has no reply times and no weight.
  EXPECT_EQ(samples(text, "scale=\"B\"").size(), 13u);
  EXPECT_NE(text.find("\ntrv4_scale_timeouts_total{scale=\"B\"} 8\n"), std::string::npos);
  EXPECT_TRUE(samples(text, "_seconds{scale=\"B\"}").empty());
  EXPECT_TRUE(samples(text, "scale=\"C\"").empty());
  std::vector<std::string> plant;  // the samples without labels
  for (const std::string& line : samples(text))
    if (line.find('{') == std::string::npos) plant.push_back(line);
  EXPECT_EQ(plant, (std::vector<std::string>{
                       "trv4_serial_port_open 1", "trv4_mqtt_enabled 1", "trv4_mqtt_connected 0",
                       "trv4_sparkplug_connected 0", "trv4_sparkplug_messages_total 300",
                       "trv4_sparkplug_ignored_total 2", "trv4_sparkplug_refused_total 1",
                       "trv4_captures_waiting_for_delivery 5", "trv4_http_connections 3",
                       "trv4_http_dashboards 2"}));
  // MQTT off, no captures, nothing polled.
  EXPECT_EQ(samples(metricsText(PlantSnapshot{}, {})),
            (std::vector<std::string>{"trv4_serial_port_open 0", "trv4_mqtt_enabled 0",
                                      "trv4_http_connections 0", "trv4_http_dashboards 0"}));
}

}  // namespace
}  // namespace trv4::test
