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
  const auto capture = [&](const std::string& address) {
    browser.evaluate("(document.querySelector('[data-address=\"" + address +
                     "\"] .capture').click(), 1)");
  };
  const auto says = [&](const std::string& status) {
    return browser.waitUntil(
        "document.getElementById('capture-status').textContent.includes('" + status + "')", 5000);
  };
  enter("wrong-token-but-long-enough");
  ASSERT_TRUE(
      browser.waitUntil("document.querySelectorAll('.capture:not([hidden])').length === 4", 5000));
  capture("A");
  EXPECT_TRUE(says("token was refused")) << browser.text();
  EXPECT_TRUE(desk.asked.empty());

  enter(kToken.toStdString());
  capture("A");
  ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
  EXPECT_EQ(desk.open.front().request.scale, 0);
  desk.commitNext("12.50 kg", 1250, 2);
  EXPECT_TRUE(
      browser.waitUntil("document.getElementById('capture-status').textContent === "
                        "'Captured scale A: 12.50 kg, number 1.' && "
                        "document.querySelectorAll('#captures tbody tr').length === 1",
                        5000))
      << browser.text();
  capture("C");
  ASSERT_TRUE(runUntil([&] { return desk.open.size() == 1; }));
  desk.failNext(CaptureFailure::kNotAWeight, "Scale C shows a text, not a weight.");
  EXPECT_TRUE(says("Scale C shows a text, not a weight.")) << browser.text();
}

}  // namespace
}  // namespace trv4::test
