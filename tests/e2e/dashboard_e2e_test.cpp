// The dashboard end to end: trv4-gateway against the simulator with HTTP on, its page loaded in
// Debian's headless chromium. The weights appear as the monitor shows them, and a tare asked for
// by the plant (over MQTT) is followed on the page without a reload.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/headless_browser.h"
#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::test {
namespace {

using scalesim::Session;

// Whether something takes TCP connections on 127.0.0.1:port.
bool listening(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool taken = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return taken;
}

std::string weightOf(char address) {
  return std::string("(document.querySelector('[data-address=\"") + address +
         "\"] .weight') || {}).textContent";
}

TEST(DashboardE2E, AChromiumPageShowsTheWeightsAndFollowsATare) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  const int port = freeTcpPort();
  const std::string net =
      "[mqtt]\nenabled=true\nhost=127.0.0.1\nport=" + std::to_string(broker.port()) +
      "\nprefix=line1\ncommands=true\n[http]\nenabled=true\nport=" + std::to_string(port) +
      "\ntoken=0123456789abcdef-plant\n";
  Session s(
      {"--scales", "A-C", "--static", "--load", "A=12.5", "--load", "B=180", "--text", "C=ZYGOS"},
      "111", {{"TRV4NET.INI", net}}, Session::Command{scalesim::gatewayPath(), {"--dir", "."}});
  ASSERT_TRUE(s.sim.ready());

  ASSERT_TRUE(scalesim::waitFor([&] { return listening(port); }, 20000))
      << scalesim::readFile(s.dir.file("trv4.out"));

  HeadlessBrowser browser;
  if (!browser.ok()) GTEST_SKIP() << "chromium cannot run here: " << browser.why();
  ASSERT_TRUE(browser.open("http://127.0.0.1:" + std::to_string(port) + "/"));
  ASSERT_TRUE(browser.waitUntil(weightOf('A') + " === '12.50 kg'", 20000))
      << browser.text() << "\n"
      << scalesim::readFile(s.dir.file("trv4.out"));
  EXPECT_TRUE(browser.waitUntil(
      weightOf('B') + " === 'Off Range' && " + weightOf('C') + " === 'ZYGOS' && " +
          "document.getElementById('connection').textContent === 'Live' && "
          "document.querySelector('[data-address=\"A\"] "
          ".health').textContent.startsWith('answering')",
      5000))
      << browser.text();
  EXPECT_EQ(browser.evaluate("document.querySelector('[data-address=\"A\"] .net.on') === null"),
            QJsonValue(true));

  // The plant tares A: the page shows the net weight without being loaded again.
  MqttSubscriber plant(broker.port(), "line1/#");
  ASSERT_TRUE(scalesim::waitFor([&] { return plant.connected(); }, 10000));
  ASSERT_TRUE(plant.publish("line1/A/command", "T"));
  EXPECT_TRUE(browser.waitUntil(
      weightOf('A') + " === '0.00 kg' && "
                      "document.querySelector('[data-address=\"A\"] .net.on') !== null",
      15000))
      << browser.text();
  // This gateway keeps no captures: the page offers none.
  EXPECT_EQ(browser.evaluate("document.querySelector('.capture:not([hidden])') === null"),
            QJsonValue(true));
}

}  // namespace
}  // namespace trv4::test
