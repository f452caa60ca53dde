// The weight trend's record over simulated hours.
#include "service/weight_trend.h"

#include <gtest/gtest.h>

#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

TEST(WeightTrendTest, TextsAndBlanksAreGapsAndAnHourOfPollingStaysBounded) {
  EXPECT_EQ(shownNumber("12.34 kg"), 12.34);
  EXPECT_EQ(shownNumber("-1.5 lb"), -1.5);
  for (const char* text : {"", "Off Range", "ZYGOS", "12.3", "kg", "1e999 kg", "12.3 kgs"})
    EXPECT_TRUE(std::isnan(shownNumber(text))) << text;

  VirtualToolkit tk;
  WeightTrend trend(tk);
  // Two hours of a scale answering every 100 ms, a text shown for one second each minute.
  for (int64_t t = 0; t < 2 * kTrendSpanMs; t += 100) {
    tk.advance(100);
    const bool text = (t / 1000) % 60 == 30;
    trend.record(3, text ? "ERR 90" : std::to_string(t % 7) + ".00 kg");
  }
  EXPECT_LE(trend.size(3), kTrendPoints);
  const std::vector<TrendPoint> hour = trend.points(3, kTrendSpanMs);
  ASSERT_FALSE(hour.empty());
  EXPECT_GE(hour.front().atMs, tk.now() - kTrendSpanMs);
  int gaps = 0;
  for (std::size_t i = 1; i < hour.size(); ++i) {
    EXPECT_GT(hour[i].atMs, hour[i - 1].atMs);
    gaps += hour[i].gap() && !hour[i - 1].gap();
  }
  EXPECT_EQ(gaps, 60);  // one per minute, never a zero in their place
  const std::vector<TrendPoint> minute = trend.points(3, 60'000);
  EXPECT_LE(minute.size(), 60'000 / kTrendStepMs + 1);
  EXPECT_TRUE(trend.points(4, kTrendSpanMs).empty());
  EXPECT_TRUE(trend.takeNews(3));
  EXPECT_FALSE(trend.takeNews(3));
}

}  // namespace
}  // namespace trv4::test
