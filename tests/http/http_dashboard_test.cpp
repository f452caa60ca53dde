// The dashboard's page in Debian's headless chromium, served by a server in this process.
#include "tests/http/http_fixture.h"
#include "tests/support/headless_browser.h"

namespace trv4::test {
namespace {

TEST_F(HttpFixture, TheDashboardCapturesWithTheTokenEnteredAndSaysWhatCameOfIt) {
  auto server = serve(withToken());
  HeadlessBrowser browser;
  if (!browser.ok()) GTEST_SKIP() << "chromium cannot run here: " << browser.why();
  browser.whileWaiting = [](int ms) { runUntil([] { return false; }, ms); };
  ASSERT_TRUE(browser.open("http://127.0.0.1:" + std::to_string(server->port()) + "/"));
  ASSERT_TRUE(browser.waitUntil(
      "document.querySelectorAll('.scale').length === 4 && "
      "document.querySelector('[data-address=\"A\"] .weight').textContent === '12.50 kg'",
      15000))
      << browser.text();
  EXPECT_EQ(browser.evaluate("document.getElementById('token').labels.length"), QJsonValue(1));
  const auto enter = [&](const std::string& token) {
    browser.evaluate("(document.getElementById('token').value = '" + token +
                     "', document.getElementById('token-form').requestSubmit(), 1)");
  };
  const auto captureA = [&] {
    browser.evaluate("(document.querySelector('[data-address=\"A\"] .capture').click(), 1)");
  };
  enter("wrong-token-but-long-enough");
  ASSERT_TRUE(
      browser.waitUntil("document.querySelectorAll('.capture:not([hidden])').length === 4", 5000));
  captureA();
  EXPECT_TRUE(browser.waitUntil(
      "document.getElementById('capture-status').textContent.includes('token was refused')", 5000))
      << browser.text();
  EXPECT_TRUE(desk.asked.empty());

  enter(kToken.toStdString());
  captureA();
  ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
  EXPECT_EQ(desk.open.front().request.scale, 0);
  desk.commitNext("12.50 kg", 1250, 2);
  EXPECT_TRUE(
      browser.waitUntil("document.getElementById('capture-status').textContent === "
                        "'Captured scale A: 12.50 kg, number 1.' && "
                        "document.querySelectorAll('#captures tbody tr').length === 1",
                        5000))
      << browser.text();
}

}  // namespace
}  // namespace trv4::test
