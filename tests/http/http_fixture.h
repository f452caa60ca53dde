// The HTTP server on 127.0.0.1 in front of the program polling simulated scales in virtual time:
// A 12.50 kg, B -1.25 kg, C showing a text, D silent; A to D polled.
#pragma once

#include <gtest/gtest.h>

#include <QJsonObject>
#include <memory>
#include <optional>
#include <string>

#include "http/http_server.h"
#include "net/board_publisher.h"
#include "tests/support/app_on_sim.h"
#include "tests/support/fake_capture_desk.h"
#include "tests/support/http_client.h"

namespace trv4::test {

inline const QByteArray kToken = "0123456789abcdef-plant-IT";
inline const QByteArray kBearer = "Bearer " + kToken;
inline const QByteArray kHealthz = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
inline const QByteArray kCaptureA =
    "POST /api/v1/scales/A/captures HTTP/1.1\r\nHost: 127.0.0.1\r\n"
    "Authorization: " +
    kBearer + "\r\nContent-Length: 0\r\n\r\n";

// A WebSocket opening handshake for path, after the given header lines.
inline QByteArray handshake(const QByteArray& path, const QByteArray& headers) {
  return "GET " + path + " HTTP/1.1\r\n" + headers +
         "Connection: Upgrade\r\nUpgrade: websocket\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

inline QJsonObject jsonObject(const QByteArray& json) {
  return QJsonDocument::fromJson(json).object();
}

// Records the commands queued; refuses them all with `refusal` when it is set.
struct FakeCommands : RemoteCommands {
  void queue(int scale, char command, Done done) override {
    if (refusal) return done(refusal);
    queued.emplace_back(scale, command);
    done(std::nullopt);
  }
  std::vector<std::pair<int, char>> queued;
  std::optional<std::string> refusal;
};

struct HttpFixture : ::testing::Test, AppOnSim {
  HttpFixture()
      : AppOnSim(fourScales(), "1111"),
        publisher(board, app->monitor(), app->state(), app->linkStats(), port, app->link(), tk) {
    publisher.mqttConnected = [this] { return mqtt; };
    publisher.sparkplugCounters = [this] { return sparkplug; };
    tk.advance(3000);  // every scale polled; the silent one's display hold has run out
  }

  HttpSources sources() {
    HttpSources s(board, tk);
    s.captures = withDesk ? &desk : nullptr;
    s.commands = withCommands ? &commands : nullptr;
    return s;
  }
  // A server on a free port of 127.0.0.1 with settings (enabled, bind and port set here).
  std::unique_ptr<HttpServer> serve(HttpSettings settings = {}, HttpLimits limits = {}) {
    settings.enabled = true;
    settings.bind = "127.0.0.1";
    settings.port = 0;
    auto server = std::make_unique<HttpServer>(settings, sources(), limits);
    EXPECT_EQ(server->start(), "");
    return server;
  }
  static HttpSettings withToken(bool commands = false) {
    HttpSettings s;
    s.token = kToken.toStdString();
    s.commands = commands;
    return s;
  }

  // Kept current by the heartbeat in virtual time: a test that changes the port or MQTT advances
  // the clock or publishes.
  PlantBoard board;
  BoardPublisher publisher;
  FakeCaptureDesk desk;
  FakeCommands commands;
  bool withDesk = true;
  bool withCommands = true;
  std::optional<bool> mqtt;
  std::optional<SparkplugCounters> sparkplug;
};

}  // namespace trv4::test
