// The MQTT publisher on the program's logic in virtual time, behind a transport that stands for
// a broker always there: when a scale is first published, and which commands from the plant it
// takes while the operator's own work holds a scale or the line.
#include "net/mqtt_publisher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>

#include "tests/support/app_on_sim.h"
#include "tests/support/mqtt_broker.h"

namespace trv4::test {
namespace {

// A broker that takes every publication and acknowledges it a millisecond later.
class BrokerStandIn : public MqttTransport {
 public:
  struct Publication {
    int64_t at;
    std::string topic, payload;
  };

  explicit BrokerStandIn(VirtualToolkit& tk) : tk_(tk) {}
  void start(Handlers h) override {
    handlers_ = std::move(h);
    handlers_.connected();
  }
  bool publish(const std::string& topic, const std::string& payload, int, bool) override {
    published.push_back({tk_.now(), topic, payload});
    tk_.schedule(tk_.now() + 1, [this] { handlers_.delivered(); });
    return true;
  }
  void subscribe(const std::string&, int) override {}
  void finish(const std::string&, const std::string&, int, bool) override {}
  // A message from the plant on topic.
  void arrive(const std::string& topic, const std::string& payload) {
    handlers_.message(topic, payload, false, false);
  }
  // The publications on topic.
  std::vector<Publication> on(const std::string& topic) const {
    std::vector<Publication> out;
    for (const Publication& p : published)
      if (p.topic == topic) out.push_back(p);
    return out;
  }

  std::vector<Publication> published;

 private:
  VirtualToolkit& tk_;
  Handlers handlers_;
};

// A to D polled (D silent), E on the line but not polled; a publisher with commands on.
struct MqttPublisherTest : ::testing::Test, AppOnSim {
  MqttPublisherTest() : AppOnSim(fiveScales(), "11110") {}

  std::unique_ptr<MqttPublisher> startPublisher(BrokerStandIn& broker) {
    MqttSettings s;
    s.enabled = true;
    s.prefix = "plant";
    s.password = "Pa55-word";
    s.commands = true;
    s.heartbeatS = 2;
    auto p = std::make_unique<MqttPublisher>(
        s, app->monitor(), app->state(), tk, broker,
        [this](const std::string& a) { return app->remoteCommandRefusal(a); });
    p->start();
    return p;
  }
  void start() { publisher = startPublisher(broker); }
  // A command from the plant for address.
  void command(char address, const std::string& payload) {
    broker.arrive(std::string("plant/") + address + "/command", payload);
  }
  // Runs action at the first virtual millisecond ready() holds, within the next 60 s.
  void once(std::function<bool()> ready, std::function<void()> action, int triesLeft = 60000) {
    tk.schedule(tk.now() + 1, [=, this] {
      if (ready()) {
        action();
      } else if (triesLeft > 0) {
        once(ready, action, triesLeft - 1);
      }
    });
  }
  bool queued(char address, const std::string& start) const {
    return app->state().CommandQueue[address - 'A'].starts_with(start);
  }
  // Frames the scales received whose body begins with body.
  int framesTo(char address, const std::string& body) const {
    return static_cast<int>(std::ranges::count_if(sim.received(), [&](const auto& f) {
      return f.bytes.size() > 4 && f.bytes[1] == address &&
             f.bytes.substr(2, f.bytes.size() - 4).starts_with(body);
    }));
  }
  // The messages shown that tell of a refused command.
  std::vector<std::string> refusals() const {
    std::vector<std::string> out;
    for (const std::string& m : tk.messages)
      if (has(m, "was refused")) out.push_back(m);
    return out;
  }

  BrokerStandIn broker{tk};
  std::unique_ptr<MqttPublisher> publisher;  // after the broker it uses
};

TEST_F(MqttPublisherTest, AScaleIsFirstPublishedWhenItsPanelFirstHasSomethingToSay) {
  std::array<int64_t, kMaxScales> firstShown;
  firstShown.fill(-1);
  app->monitor().addShownListener([&](int i) {
    if (firstShown[i] < 0) firstShown[i] = tk.now();
  });
  start();  // connected before the first scan step
  EXPECT_TRUE(broker.on("plant/A/weight").empty()) << "no blank panel over the kept weight";
  tk.advance(30000);

  // A answers at once; the silent D is first published when its display hold blanks it.
  const auto a = broker.on("plant/A/weight");
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a.front().at, firstShown[0]);
  EXPECT_TRUE(has(a.front().payload, "\"weight\":12.50,")) << a.front().payload;
  const auto d = broker.on("plant/D/weight");
  ASSERT_FALSE(d.empty());
  EXPECT_GT(firstShown[3], 1000);
  EXPECT_EQ(d.front().at, firstShown[3]);
  EXPECT_TRUE(broker.on("plant/E/weight").empty()) << "not polled";

  // Publishing started again (the Publishing dialog's OK) waits for the next answer as well.
  BrokerStandIn again(tk);
  auto restarted = startPublisher(again);
  EXPECT_TRUE(again.published.size() == 1 && again.published[0].topic == "plant/status");
  tk.advance(1000);
  const auto a2 = again.on("plant/A/weight");
  ASSERT_FALSE(a2.empty());
  EXPECT_TRUE(has(a2.front().payload, "\"weight\":12.50,")) << a2.front().payload;
}

// Only <prefix>/<address>/command carries a command, and only Z, T or G; whatever else arrives
// on the subscription is counted and sent nowhere.
TEST_F(MqttPublisherTest, OnlyACommandInItsOwnShapeIsTaken) {
  start();
  tk.advance(1000);
  const std::pair<const char*, const char*> others[] = {
      {"plant/A/commandX", "T"}, {"plant/A/command/extra", "T"}, {"plant/AB/command", "T"},
      {"plant/_/command", "T"},  {"plantA/A/command", "T"},      {"other/A/command", "T"},
      {"plant/A/weight", "T"},   {"plant/A/command", "X"},       {"plant/A/command", "TT"},
      {"plant/A/command", "t"}};
  for (const auto& [topic, payload] : others) broker.arrive(topic, payload);
  EXPECT_EQ(publisher->ignoredCommands(), 10);
  command('@', "Z");
  tk.advance(1000);
  command('A', "T");
  tk.advance(1000);
  EXPECT_EQ(std::tuple(framesTo('@', "Z"), framesTo('A', "T"), publisher->refusedCommands()),
            std::tuple(1, 1, 0));
}

TEST_F(MqttPublisherTest, ACommandNeverTakesTheParameterWindowsPlace) {
  start();
  tk.advance(1000);
  app->oneUnit().selectScale("A");
  Param& param = app->openParam();
  param.UploadParam();

  // A tare arriving while P1 waits in A's mailbox to be sent.
  bool arrived = false;
  once([&] { return queued('A', "P1"); },
       [&] {
         command('A', "T");
         arrived = true;
       });
  param.Command3_Click();
  ASSERT_TRUE(arrived);
  // A zero arriving while the unlock waits for its answer.
  arrived = false;
  ASSERT_TRUE(param.setValue("vPin", "123456"));
  once([&] { return queued('A', "J0"); },
       [&] {
         command('A', "Z");
         arrived = true;
       });
  param.Command6_Click();
  ASSERT_TRUE(arrived);
  // A gross arriving while Store waits in the mailbox, the window idle.
  tk.yesNoAnswers = {true};
  param.Command5_Click();
  ASSERT_TRUE(queued('A', "W"));
  command('A', "G");
  tk.advance(5000);

  EXPECT_EQ(framesTo('A', "P1"), 1);
  EXPECT_EQ(framesTo('A', "J0"), 1);
  EXPECT_EQ(framesTo('A', "W"), 1);
  for (const char* c : {"T", "Z", "G"}) EXPECT_EQ(framesTo('A', c), 0) << c << " was sent later";
  EXPECT_EQ(publisher->refusedCommands(), 3);
  EXPECT_EQ(refusals(), (std::vector<std::string>{
                            "The command on plant/A/command was refused: the parameter window is "
                            "exchanging data with a scale. A refused command is not sent later.",
                            "The command on plant/A/command was refused: the scale has a command "
                            "waiting to be sent. A refused command is not sent later."}));
  EXPECT_EQ(std::ranges::count(tk.messages, std::string("Command not accepted")), 0);

  // Once the line is free a command is taken again.
  command('A', "T");
  tk.advance(1000);
  EXPECT_EQ(framesTo('A', "T"), 1);
}

TEST_F(MqttPublisherTest, ACalibrationKeepsItsScaleAndOthersStayFree) {
  start();
  tk.advance(1000);
  app->oneUnit().selectScale("A");
  Calib& calib = app->calib();
  // The operator empties the scale and presses Start.
  once([&] { return calib.view().startVisible; }, [&] { calib.StartCmd_Click(); });
  bool arrived = false;
  once([&] { return queued('A', "a"); },
       [&] {
         command('A', "T");
         command('@', "Z");
         command('B', "G");
         arrived = true;
       });
  calib.WZeroCalib();
  ASSERT_TRUE(arrived);
  tk.advance(1000);

  EXPECT_EQ(framesTo('A', "a"), 1);
  EXPECT_EQ(framesTo('A', "T"), 0);
  EXPECT_EQ(framesTo('@', "Z"), 0);
  EXPECT_EQ(framesTo('B', "G"), 1) << "B is polled and free";
  EXPECT_EQ(publisher->refusedCommands(), 2);
  EXPECT_EQ(refusals(), (std::vector<std::string>{
                            "The command on plant/A/command was refused: a calibration is running "
                            "on the scale. A refused command is not sent later."}));
}

TEST_F(MqttPublisherTest, ACommandForAScaleTheCycleDoesNotServeIsRefusedAndNeverSentLater) {
  start();
  tk.advance(1000);
  auto refusedWith = [&](char address, const std::string& payload, const std::string& cause) {
    const int64_t before = publisher->refusedCommands();
    command(address, payload);
    EXPECT_EQ(publisher->refusedCommands(), before + 1) << cause;
    EXPECT_TRUE(has(tk.messages.back(), cause)) << tk.messages.back();
  };
  refusedWith('E', "T", "the scale is not polled");
  command('E', "T");  // the same cause is told once

  // Single-scale mode on B: B alone is served.
  app->oneUnit().selectScale("B");
  app->mSingleScale_Click();
  tk.advance(500);
  refusedWith('A', "T", "single-scale mode (\"Single Scale\" in \"Commands\") serves another");
  command('B', "Z");
  tk.advance(500);
  app->mSingleScale_Click();

  // Find Scales holds the line.
  app->link()->suspend(nullptr);
  refusedWith('A', "T", "Find Scales has the line");
  app->link()->resume();
  // The port is closed (the adapter pulled).
  ASSERT_FALSE(app->port().setPortOpen(false));
  refusedWith('B', "T", "the serial port is closed");
  refusedWith('@', "T", "the serial port is closed");
  ASSERT_FALSE(app->port().setPortOpen(true));
  // Nothing polled: a command to every scale would wait for ever.
  app->monitor().setScanList({});
  refusedWith('@', "G", "no scale is polled");

  // Hours later, nothing refused has reached the line.
  app->monitor().setScanList({1, 1, 1, 1, 1});
  app->mSingleScale_Click();  // E served on its own as well
  app->oneUnit().selectScale("E");
  tk.advance(10000);
  EXPECT_EQ(framesTo('B', "Z"), 1);
  for (char a : {'A', 'B', 'E'}) EXPECT_EQ(framesTo(a, "T"), 0) << a;
  EXPECT_EQ(framesTo('@', "T") + framesTo('@', "G"), 0);
  EXPECT_EQ(publisher->refusedCommands(), 7);
  EXPECT_EQ(refusals().size(), 5u) << "once per cause";
  for (const std::string& m : tk.messages) EXPECT_FALSE(has(m, "Pa55-word")) << m;
}

}  // namespace
}  // namespace trv4::test
