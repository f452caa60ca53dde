// The MQTT publisher on the program's logic in virtual time, behind a stand-in for a broker:
// when a scale is first published, and which commands from the plant it takes.
#include "net/mqtt_publisher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>

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
  void arrive(const std::string& topic, const std::string& payload) {
    handlers_.message(topic, payload, false, false);
  }
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

  void start() {
    MqttSettings s;
    std::tie(s.enabled, s.prefix, s.heartbeatS, s.commands) = std::tuple(true, "plant", 2, true);
    publisher = std::make_unique<MqttPublisher>(
        s, app->monitor(), app->state(), tk, broker,
        [this](const std::string& a) { return app->remoteCommandRefusal(a); });
    publisher->start();
  }
  void command(char address, const std::string& payload) {
    broker.arrive(std::string("plant/") + address + "/command", payload);
  }
  // Runs action at the first virtual millisecond ready() holds, within the next 60 s.
  void once(std::function<bool()> ready, std::function<void()> action, int triesLeft = 60000) {
    tk.schedule(tk.now() + 1, [=, this] {
      if (ready()) return action();
      if (triesLeft > 0) once(ready, action, triesLeft - 1);
    });
  }
  bool queued(char address, const std::string& start) const {
    return app->state().CommandQueue[address - 'A'].starts_with(start);
  }
  int framesTo(char address, const std::string& body) const {
    return static_cast<int>(std::ranges::count(sim.received(), scalesim::makeFrame(address, body),
                                               &scalesim::ReceivedFrame::bytes));
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
  const auto a = broker.on("plant/A/weight"), d = broker.on("plant/D/weight");
  ASSERT_FALSE(a.empty() || d.empty());
  EXPECT_EQ(std::pair(a.front().at, d.front().at), std::pair(firstShown[0], firstShown[3]));
  EXPECT_GT(firstShown[3], 1000);
  EXPECT_TRUE(has(a.front().payload, "\"weight\":12.50,")) << a.front().payload;
  EXPECT_TRUE(broker.on("plant/E/weight").empty()) << "not polled";
}

// Only Z, T or G on <prefix>/<address>/command is a command; the rest is counted, sent nowhere.
TEST_F(MqttPublisherTest, OnlyACommandInItsOwnShapeIsTaken) {
  start();
  tk.advance(1000);
  const std::pair<const char*, const char*> others[] = {
      {"plant/A/commandX", "T"}, {"plant/A/command/extra", "T"}, {"plant/AB/command", "T"},
      {"plant/_/command", "T"},  {"plantA/A/command", "T"},      {"plant/A/command", "X"},
      {"plant/A/command", "TT"}};
  for (const auto& [topic, payload] : others) broker.arrive(topic, payload);
  EXPECT_EQ(publisher->ignoredCommands(), 7);
  command('@', "Z");
  tk.advance(1000);
  command('A', "T");
  tk.advance(1000);
  EXPECT_EQ(std::tuple(framesTo('@', "Z"), framesTo('A', "T"), publisher->refusedCommands()),
            std::tuple(1, 1, 0));
}

// A command never takes the place of the operator's work nor waits for a scale nobody serves:
// each cause is told once and what it refused never reaches the line.
TEST_F(MqttPublisherTest, ACommandIsRefusedWhileItsScaleOrTheLineIsTaken) {
  start();
  tk.advance(1000);
  command('E', "T");
  command('E', "T");
  EXPECT_EQ(publisher->refusedCommands(), 2);
  EXPECT_EQ(tk.messages, std::vector<std::string>{
                             "The command on plant/E/command was refused: the scale is not polled "
                             "(its weight is switched off in the monitor). A refused command is "
                             "not sent later."});

  std::vector<std::string> causes;
  const auto why = [&](char a) { causes.push_back(app->remoteCommandRefusal(std::string(1, a))); };
  app->oneUnit().selectScale("B");
  app->mSingleScale_Click();
  tk.advance(500);
  why('A');
  app->mSingleScale_Click();
  app->link()->suspend(nullptr);
  why('A');
  app->link()->resume();
  ASSERT_FALSE(app->port().setPortOpen(false));  // the adapter pulled
  why('@');
  ASSERT_FALSE(app->port().setPortOpen(true));
  app->monitor().setScanList({});
  why('@');
  app->monitor().setScanList({1, 1, 1, 1, 1});

  app->oneUnit().selectScale("A");
  Param& param = app->openParam();
  param.UploadParam();
  once([&] { return queued('A', "P1"); }, [&] { why('A'); });
  param.Command3_Click();
  tk.yesNoAnswers = {true};
  param.Command5_Click();  // Store waits in A's mailbox, the window idle
  ASSERT_TRUE(queued('A', "W"));
  why('A');
  why('@');
  tk.advance(5000);
  app->closeParam();

  Calib& calib = app->calib();
  once([&] { return calib.view().startVisible; }, [&] { calib.StartCmd_Click(); });
  once([&] { return queued('A', "a"); },
       [&] {
         why('A');
         why('@');
         why('B');
       });
  calib.WZeroCalib();
  EXPECT_EQ(
      causes,
      (std::vector<std::string>{
          "single-scale mode (\"Single Scale\" in \"Commands\") serves another scale",
          "Find Scales has the line", "the serial port is closed", "no scale is polled",
          "the parameter window is exchanging data with a scale",
          "the scale has a command waiting to be sent", "a command is waiting to be sent",
          "a calibration is running on the scale", "a calibration is running on the scale", ""}));
}

}  // namespace
}  // namespace trv4::test
