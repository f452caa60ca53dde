// The HTTP server as the program runs it: started and stopped with publishing, so settings
// written by the Publishing dialog take effect at its restart.
#include <QTcpServer>
#include <fstream>

#include "http/http_service.h"
#include "tests/http/http_fixture.h"

namespace trv4::test {
namespace {

int freePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

TEST_F(HttpFixture, TheServerStartsAndStopsWithPublishingWithTheSettingsOfTheFile) {
  Publishing publishing(app->monitor(), app->state(), app->linkStats(), tk,
                        [this](const std::string& a) { return app->remoteCommandRefusal(a); });
  HttpService service(publishing, sources());
  const std::string file = path(kNetSettingsFileName);
  const auto write = [&](const std::string& text) { std::ofstream(file) << text; };

  const int first = freePort();
  write("[http]\nenabled=true\nport=" + std::to_string(first) + "\n");
  publishing.start(file);
  ASSERT_NE(service.server(), nullptr);
  EXPECT_EQ(service.server()->port(), first);
  const HttpReply metrics = HttpClient(static_cast<quint16>(first)).get("/metrics");
  EXPECT_EQ(metrics.status, 200);
  EXPECT_NE(metrics.body.indexOf("trv4_mqtt_enabled 0"), -1);  // read from publishing

  publishing.stop();
  EXPECT_EQ(service.server(), nullptr);
  EXPECT_EQ(HttpClient(static_cast<quint16>(first)).get("/healthz").status, 0);

  const int second = freePort();
  write("[http]\nenabled=true\nport=" + std::to_string(second) + "\n");
  publishing.start(file);
  ASSERT_NE(service.server(), nullptr);
  EXPECT_EQ(HttpClient(static_cast<quint16>(second)).get("/healthz").status, 200);

  publishing.stop();
  write("[http]\nenabled=false\n");
  publishing.start(file);
  EXPECT_EQ(service.server(), nullptr);
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
}

}  // namespace
}  // namespace trv4::test
