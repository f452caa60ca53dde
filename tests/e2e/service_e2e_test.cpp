// The service tools on a live line, and Find Scales at two line settings of the real terminal.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include "service/weight_trend_window.h"
#include "tests/support/program_driver.h"

namespace trv4::e2e {
namespace {

TEST(ServiceE2E, StatisticsTrafficAndFindScalesOnALiveLine) {
  // A and C at 9600 8N1, C NAKing half its status requests; K listens at 19200 only.
  InProcessSession s({"--scales", "A,C,K", "--static", "--baud", "9600", "--format", "8N1",
                      "--rate", "K=19200/8N1", "--fault", "nak:C@0.5"},
                     "111");
  ASSERT_EQ(s.failure(), "");
  Application& app = s.program.app();
  ASSERT_TRUE(runEventsUntil([&] { return app.linkStats().scale(2).naks > 2; }, 20000));

  click(*menuEntry(s.program, "mLinkStats"));
  click(*menuEntry(s.program, "mTraffic"));
  click(*menuEntry(s.program, "mWeightTrend"));
  runEvents(1.2);
  QWidget* stats = topLevelWindow("LinkStats");
  QWidget* traffic = topLevelWindow("Traffic");
  ASSERT_TRUE(stats && traffic);
  auto* table = stats->findChild<QTableWidget*>("StatsTable");
  EXPECT_NE(table->item(0, 3)->text(), "0");  // A's replies
  EXPECT_NE(table->item(2, 9)->text(), "0");  // C's NAKs
  EXPECT_EQ(table->item(1, 3)->text(), "0");  // B is not on the line
  EXPECT_NE(table->item(1, 4)->text(), "0");  // so its requests time out
  EXPECT_GT(traffic->findChild<QPlainTextEdit*>("TrafficView")->blockCount(), 10);
  // The trend draws A's weights, with no gap.
  auto* trend = qobject_cast<WeightTrendWindow*>(topLevelWindow("WeightTrend"));
  ASSERT_TRUE(trend && !trend->trend().points(0, 60000).empty());
  EXPECT_FALSE(trend->trend().points(0, 60000).back().gap());

  click(*menuEntry(s.program, "mFindScales"));
  QWidget* find = topLevelWindow("FindScales");
  ASSERT_TRUE(find);
  auto* found = find->findChild<QTableWidget*>("FoundTable");
  auto answered = [&] {
    std::string out;
    for (int r = 0; r < found->rowCount(); ++r)
      if (found->item(r, 1)->text() == "yes") out += found->item(r, 0)->text().toStdString();
    return out;
  };
  auto search = [&] {
    find->findChild<QPushButton*>("SearchCmd")->click();
    return runEventsUntil([&] { return find->findChild<QPushButton*>("SearchCmd")->isEnabled(); },
                          20000);
  };
  ASSERT_TRUE(search());
  EXPECT_EQ(answered(), "AC");
  EXPECT_EQ(app.port().settings(), "9600,N,8,1");
  // The line at K's rate: only K answers, and polling goes on after the search.
  ASSERT_EQ(app.port().setSettings("19200,N,8,1"), std::nullopt);
  ASSERT_TRUE(search());
  EXPECT_EQ(answered(), "K");
  const uint32_t before = app.linkStats().scale(0).requests;
  EXPECT_TRUE(runEventsUntil([&] { return app.linkStats().scale(0).requests > before; }, 5000));
}

}  // namespace
}  // namespace trv4::e2e
