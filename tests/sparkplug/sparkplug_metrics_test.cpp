// What a device's metrics say of a panel, and the names a device and a command topic take.
#include "sparkplug/sparkplug_metrics.h"

#include <gtest/gtest.h>

#include <tuple>

#include "sparkplug/sparkplug_topics.h"

namespace trv4 {
namespace {

TEST(SparkplugMetrics, TheMetricsSayWhatThePanelShows) {
  // Weight, unit, text, net, motion, centre of zero, off range, answering, decimals.
  const std::tuple<PanelView, int, SparkplugDevice> rows[] = {
      {{"-1.25 kg", true, true, "M"}, 0, {-1.25, "kg", "-1.25 kg", 1, 1, 0, 0, 1, 2}},
      {{"150 lb", false, true, "o"}, 1, {150.0, "lb", "150 lb", 0, 0, 1, 0, 1, 0}},
      {{"Off Range", false, false, "M"}, 1, {{}, "lb", "Off Range", 0, 0, 0, 1, 1, 0}},
      {{"\xe1\xe2\xe3", false, false, "M"}, 0, {{}, "kg", "\u03b1\u03b2\u03b3", 0, 0, 0, 0, 1, 0}},
      {{"", false, false, "M"}, 0, {{}, "kg", "", 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& [view, unitFlag, expected] : rows)
    EXPECT_EQ(sparkplugDevice(view, unitFlag, {}), expected) << view.text;
}

TEST(SparkplugTopics, DeviceIdsAndCommandTopics) {
  const std::pair<char, const char*> ids[] = {{'A', "A"},   {'^', "^"},     {'/', "%2F"},
                                              {'+', "%2B"}, {'#', "%23"},   {'%', "%25"},
                                              {' ', "%20"}, {'\x7f', "%7F"}};
  for (const auto& [address, id] : ids) EXPECT_EQ(sparkplugDeviceId(address), id);

  const struct {
    const char* topic;
    SparkplugTopic::Kind kind;
    int scale;
  } rows[] = {
      {"spBv1.0/g/NCMD/e", SparkplugTopic::NodeCommand, -1},
      {"spBv1.0/g/DCMD/e/^", SparkplugTopic::DeviceCommand, 29},
      {"spBv1.0/STATE/h", SparkplugTopic::State, -1},
      {"spBv1.0/g/DCMD/e/_", SparkplugTopic::Other, -1},
      {"spBv1.0/g/DCMD/e/AB", SparkplugTopic::Other, -1},
      {"spBv1.0/g/DCMD/e/", SparkplugTopic::Other, -1},
      {"spBv1.0/g/NCMD/e/A", SparkplugTopic::Other, -1},
      {"spBv1.0/g/DCMD/ee/A", SparkplugTopic::Other, -1},
      {"spBv1.0/STATE/hh", SparkplugTopic::Other, -1},
  };
  for (const auto& r : rows) {
    const SparkplugTopic t = parseSparkplugTopic(r.topic, "g", "e", "h");
    EXPECT_EQ(std::pair(t.kind, t.scale), std::pair(r.kind, r.scale)) << r.topic;
  }
}

}  // namespace
}  // namespace trv4
