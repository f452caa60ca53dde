// The weight trend's record over simulated hours, and across a switch between kg and lb.
#include "service/weight_trend.h"

#include <gtest/gtest.h>

#include "display/weight_format.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

TEST(WeightTrendTest, TextsAndBlanksAreGapsAndAnHourOfPollingStaysBounded) {
  EXPECT_EQ(std::pair(shownNumber("12.34 kg"), shownNumber("-1.5 lb")), std::pair(12.34, -1.5));
  for (const char* text : {"Off Range", "12.3", "1e999 kg", "12.3 kgs"})
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
  EXPECT_LE(trend.points(3, 60'000).size(), 60'000 / kTrendStepMs + 1);
  EXPECT_TRUE(trend.takeNews(3));
  EXPECT_FALSE(trend.takeNews(3));
}

// 10 kg shown as kg, then as lb (22.05 lb), then as kg again: one level line in either unit.
TEST(WeightTrendTest, AUnitSwitchKeepsTheLineWhereItWas) {
  VirtualToolkit tk;
  WeightTrend trend(tk);
  for (const char* text : {"10.00 kg", "10.00 kg", "22.05 lb", "ERR 90", "22.05 lb"}) {
    tk.advance(kTrendStepMs);
    trend.record(0, text);
  }
  EXPECT_EQ(trend.unit(), 1);
  EXPECT_EQ(trend.points(0, 4 * kTrendStepMs).size(), 5u) << "one exactly at the span's start";
  for (const auto& [unit, level] : {std::pair{0, 10.0}, std::pair{1, 10.0 * kPoundFactor}}) {
    const std::vector<TrendPoint> points = trend.points(0, 60'000, unit);
    ASSERT_EQ(points.size(), 5u);
    EXPECT_TRUE(points[3].gap());
    for (const TrendPoint& p : points)
      EXPECT_NEAR(p.gap() ? level : p.value, level, 0.01) << "unit " << unit;
  }
  tk.advance(kTrendStepMs);
  trend.record(0, "10.00 kg");
  EXPECT_EQ(trend.unit(), 0);
  trend.record(0, "Off Range");  // a text leaves the unit as the last weight showed it
  EXPECT_EQ(trend.unit(), 0);
}

}  // namespace
}  // namespace trv4::test
