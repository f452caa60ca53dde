// MQTT publishing against Debian's mosquitto broker on 127.0.0.1, read by a subscriber on
// libmosquitto, while the link polls simulated scales in virtual time.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <set>

#include "link/link_state.h"
#include "net/mosquitto_transport.h"
#include "net/mqtt_publisher.h"
#include "net/publishing.h"
#include "tests/support/app_on_sim.h"
#include "tests/support/mqtt_broker.h"

namespace trv4::test {
namespace {

// The program's connection, keeping the failures it tells of.
struct LoggedTransport : MosquittoTransport {
  using MosquittoTransport::MosquittoTransport;
  void start(Handlers h) override {
    h.lost = [this, lost = std::move(h.lost)](const MqttFailure& why) {
      failures.push_back(why);
      if (lost) lost(why);
    };
    MosquittoTransport::start(std::move(h));
  }
  std::vector<MqttFailure> failures;
};

// The program's logic on simulated scales A..E (E not polled) and a broker of its own.
struct MqttTest : ::testing::Test, AppOnSim {
  MqttTest() : AppOnSim(fiveScales(), "11110") { EXPECT_TRUE(broker.start()); }

  MqttSettings settings(bool commands = false) const {
    MqttSettings s;
    std::tie(s.enabled, s.port, s.prefix, s.heartbeatS, s.commands) =
        std::tuple(true, broker.port(), "plant/line1", 2, commands);
    return s;
  }
  void publish(const MqttSettings& s) {
    publisher.reset();
    // Tries again within 0.4 s, so a broker that is back is found by the time the test looks:
    // at the program's back-off of up to 30 s of real time a loaded machine ran out of time.
    transport = std::make_unique<LoggedTransport>(s, s.prefix + "/status", "offline",
                                                  MqttBackOff{100, 400});
    publisher = std::make_unique<MqttPublisher>(
        s, app->monitor(), app->state(), tk, *transport,
        [this](const std::string& a) { return app->remoteCommandRefusal(a); });
    publisher->start();
  }
  bool connected() {
    return pumpUntil([&] { return publisher->connected(); });
  }
  int framesTo(char address, const std::string& body) const {
    return static_cast<int>(std::ranges::count(sim.received(), scalesim::makeFrame(address, body),
                                               &scalesim::ReceivedFrame::bytes));
  }

  MqttBroker broker;
  std::unique_ptr<LoggedTransport> transport;
  std::unique_ptr<MqttPublisher> publisher;  // after the transport it uses
};

TEST_F(MqttTest, RetainedWeightsFollowThePanelsAndTheHeartbeatKeepsThemFresh) {
  publish(settings());
  ASSERT_TRUE(connected());
  tk.advance(6000);  // polled; the silent scale's display hold has run out
  MqttSubscriber early(broker.port(), "plant/line1/#");
  ASSERT_TRUE(pumpUntil([&] { return early.count("plant/line1/D/weight") > 0; }));

  // A client that comes later gets every polled scale's last weight and the status, retained.
  MqttSubscriber late(broker.port(), "plant/line1/#");
  ASSERT_TRUE(pumpUntil([&] { return late.count("plant/line1/D/weight") > 0; }));
  EXPECT_EQ(late.last("plant/line1/status"), "online");
  EXPECT_TRUE(late.last("plant/line1/A/weight")
                  .starts_with("{\"address\":\"A\",\"text\":\"12.50 kg\",\"weight\":12.50,"))
      << late.last("plant/line1/A/weight");
  for (const auto& m : late.messages()) EXPECT_TRUE(m.retained) << m.topic;

  // A change arrives as the panel shows it; an unchanged weight comes once per heartbeat only.
  const int before = early.count("plant/line1/B/weight");
  sim.scale('A')->load = 20;
  tk.advance(4000);  // two heartbeats
  EXPECT_TRUE(
      pumpUntil([&] { return has(early.last("plant/line1/A/weight"), "\"weight\":20.00,"); }));
  EXPECT_TRUE(pumpUntil([&] { return early.count("plant/line1/B/weight") == before + 2; }));
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
}

// A tare left retained on the broker long ago is never taken, nor what is longer than any
// command; a live one is. Off, the program does not listen at all.
TEST_F(MqttTest, OnlyLiveCommandsReachTheLineAndOnlyWhenSwitchedOn) {
  MqttSubscriber plant(broker.port(), "plant/line1/A/command");
  ASSERT_TRUE(plant.publish("plant/line1/A/command", "T", true));
  ASSERT_TRUE(pumpUntil([&] { return plant.count("plant/line1/A/command") == 1; }));
  publish(settings(true));
  ASSERT_TRUE(connected());
  ASSERT_TRUE(pumpUntil([&] { return publisher->ignoredCommands() == 1; }));
  plant.publish("plant/line1/B/command", std::string(2 << 20, 'Z'));
  plant.publish("plant/line1/A/command", "Z");
  ASSERT_TRUE(pumpUntil([&] { return app->state().CommandQueue[0] == "Z"; }));
  EXPECT_EQ(publisher->ignoredCommands(), 2);
  tk.advance(1000);
  EXPECT_EQ(std::tuple(framesTo('A', "Z"), framesTo('A', "T"), framesTo('B', "Z")),
            std::tuple(1, 0, 0));
  EXPECT_EQ(tk.messages, std::vector<std::string>{
                             "Retained command on plant/line1/A/command ignored: the program "
                             "takes a command only as it is sent."});

  publish(settings());
  ASSERT_TRUE(connected());
  plant.publish("plant/line1/A/command", "G");
  ASSERT_TRUE(pumpUntil([&] { return plant.count("plant/line1/A/command") == 3; }));
  tk.advance(1000);
  EXPECT_EQ(framesTo('A', "G"), 0);
  EXPECT_EQ(publisher->ignoredCommands(), 0);
}

TEST_F(MqttTest, ABrokerAwayHoldsNothingUpAndEveryWeightIsCurrentWhenItIsBack) {
  publish(settings(true));
  ASSERT_TRUE(connected());
  tk.advance(1000);
  broker.stop();
  ASSERT_TRUE(pumpUntil([&] { return !publisher->connected(); }));
  const int64_t published = publisher->weightsPublished();
  QElapsedTimer clock;
  clock.start();
  for (int step = 1; step <= 60; ++step) {  // a minute of changing weights, polled meanwhile
    sim.scale('A')->load = step;
    tk.advance(1000);
  }
  EXPECT_LT(clock.elapsed(), 20000) << "polling waited on the broker";
  EXPECT_EQ(publisher->weightsPublished(), published) << "nothing piles up while it is away";

  ASSERT_TRUE(broker.start());
  ASSERT_TRUE(pumpUntil([&] { return publisher->connected(); }, 40000));
  MqttSubscriber late(broker.port(), "plant/line1/#");
  EXPECT_TRUE(pumpUntil([&] {
    return has(late.last("plant/line1/A/weight"), "\"weight\":60.00,") &&
           late.count("plant/line1/D/weight") == 1;
  }));
  ASSERT_FALSE(transport->failures.empty() || tk.messages.empty());
  EXPECT_EQ(transport->failures.front().code, MqttFailureCode::kConnectionLost);
  EXPECT_EQ(tk.messages.front(), mqttFailureText(transport->failures.front()));
  // Subscribed afresh: commands come through again.
  late.publish("plant/line1/B/command", "Z");
  ASSERT_TRUE(pumpUntil([&] { return app->state().CommandQueue[1] == "Z"; }));
}

// Each failure is told once, as its code words it, never with the password; polling goes on.
TEST_F(MqttTest, ARefusedOrAbsentBrokerIsToldOnceAndTheRightOnesConnect) {
  MqttBroker guarded("line1", "right-Pa55"), secure({}, {}, true);
  ASSERT_TRUE(guarded.start() && secure.start());
  // Host, port, password, CA file, and the failure told; none: it connects and publishes.
  using Row =
      std::tuple<std::string, int, std::string, std::string, std::optional<MqttFailureCode>>;
  for (const auto& [host, port, password, caFile, told] :
       {Row{"127.0.0.1", guarded.port(), "wrong-Pa55", "", MqttFailureCode::kRefused},
        Row{"127.0.0.1", freeTcpPort(), "", "", MqttFailureCode::kUnreachable},
        Row{"no-such-broker.invalid", 1883, "", "", MqttFailureCode::kHostNotFound},
        Row{"localhost", secure.port(), "", secure.strangerCaFile(), MqttFailureCode::kTlsFailed},
        Row{"127.0.0.1", guarded.port(), "right-Pa55", "", std::nullopt},
        Row{"localhost", secure.port(), "", secure.caFile(), std::nullopt}}) {
    SCOPED_TRACE(host + " " + std::to_string(port));
    tk.messages.clear();
    MqttSettings s = settings();
    std::tie(s.host, s.port, s.password, s.caFile) = std::tie(host, port, password, caFile);
    s.username = "line1";
    publish(s);
    if (!told) {
      EXPECT_TRUE(connected());
      tk.advance(1000);
      EXPECT_TRUE(pumpUntil([&] { return publisher->weightsPublished() >= 3; }));  // A, B and C
      EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
      continue;
    }
    EXPECT_TRUE(pumpUntil([&] { return publisher->failures() >= 2; }, 20000));
    tk.advance(1000);
    ASSERT_TRUE(tk.messages.size() == 1u && !transport->failures.empty()) << tk.messages.size();
    const MqttFailure& first = transport->failures.front();
    EXPECT_EQ(std::tuple(first.code, first.host, first.port), std::tuple(*told, host, port));
    EXPECT_EQ(tk.messages[0], mqttFailureText(first));
    EXPECT_FALSE(has(tk.messages[0], "Pa55"));
  }
}

TEST_F(MqttTest, AnUnusableCaFileKeepsMqttOff) {
  const std::string notACa = path("not-a-ca.pem");
  scalesim::writeFile(notACa, "hello");
  using C = MqttFailureCode;
  for (const auto& [ca, code] :
       {std::pair(path("missing.pem"), C::kCaFileNotAFile),
        std::pair(notACa, C::kCaFileNoCertificate), std::pair(dir.string(), C::kCaFileNotAFile)}) {
    MqttSettings withCa;
    withCa.caFile = ca;
    EXPECT_EQ(MosquittoTransport::problem(withCa), MqttFailure({.code = code, .caFile = ca}));
  }
  scalesim::writeFile(path("TRV4NET.INI"), "[mqtt]\nenabled=true\nca_file=" + notACa + "\n");
  Publishing publishing(app->monitor(), app->state(), tk, {});
  publishing.start(path("TRV4NET.INI"));
  EXPECT_EQ(publishing.mqtt(), nullptr);
  EXPECT_EQ(tk.messages, std::vector<std::string>{
                             mqttFailureText({.code = C::kCaFileNoCertificate, .caFile = notACa})});
}

// A connection of its own (Sparkplug's): its client id, a will made afresh for each try that the
// broker sends when the connection is dropped, and payloads kept up to its limit.
TEST(MqttOwnConnection, TheWillOfADroppedConnectionIsThatOfTheTryThatConnected) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  MqttSubscriber plant(broker.port(), "node/#");
  ASSERT_TRUE(plant.publish("cmd/a", std::string(3000, 'x'), true));
  ASSERT_TRUE(plant.publish("cmd/b", std::string(5000, 'x'), true));
  std::atomic<int> tries{0};
  MqttSettings settings;
  settings.port = broker.port();
  MqttConnectionOptions own;
  own.clientId = "line1-own";
  own.willTopic = "node/death";
  own.willEachTry = [&] { return "try " + std::to_string(++tries); };
  own.messageMax = 4096;
  own.backOff = {100, 400};
  MosquittoTransport transport(settings, own);
  std::vector<std::string> connectedAs;  // the will of each connection made
  std::set<std::tuple<std::size_t, bool>> received;
  MqttTransport::Handlers handlers;
  handlers.connected = [&] {
    connectedAs.push_back("try " + std::to_string(tries));
    transport.subscribe("cmd/#", 1);
  };
  handlers.message = [&](const std::string&, const std::string& payload, bool tooLong, bool) {
    received.emplace(payload.size(), tooLong);
  };
  transport.start(handlers);
  const auto willsCome = [&](int n) {
    return pumpUntil([&] { return plant.count("node/death") == n; });
  };
  for (int drop = 1; drop <= 2; ++drop) {
    ASSERT_TRUE(pumpUntil([&] { return connectedAs.size() == static_cast<std::size_t>(drop); }));
    // Another client under the same id: the broker drops this connection as a dead one.
    auto takeover = std::make_unique<MqttSubscriber>(broker.port(), "none", "line1-own");
    ASSERT_TRUE(willsCome(drop));
    takeover.reset();
    EXPECT_EQ(plant.last("node/death"), connectedAs.back());
  }
  EXPECT_NE(connectedAs[0], connectedAs[1]);
  // The retained ones, at each subscription: each connection may have taken some of them.
  ASSERT_TRUE(pumpUntil([&] { return received.size() >= 2; }));
  EXPECT_EQ(received, (std::set<std::tuple<std::size_t, bool>>{{3000, false}, {4096, true}}));
}

}  // namespace
}  // namespace trv4::test
