// What a device's metrics say of a panel, and the names a device and a command topic take.
#include "sparkplug/sparkplug_metrics.h"

#include <gtest/gtest.h>

#include "sparkplug/sparkplug_topics.h"

namespace trv4 {
namespace {

TEST(SparkplugMetrics, TheMetricsSayWhatThePanelShows) {
  struct Row {
    PanelView view;
    int unitFlag;
    std::optional<double> weight;
    std::string unit, text;
    int decimals;
    bool net, motion, centreOfZero, offRange, answering;
  };
  const Row rows[] = {
      {{"-1.25 kg", true, true, "M"},
       0,
       -1.25,
       "kg",
       "-1.25 kg",
       2,
       true,
       true,
       false,
       false,
       true},
      {{"150 lb", false, true, "o"}, 1, 150.0, "lb", "150 lb", 0, false, false, true, false, true},
      {{"Off Range", false, false, "M"},
       1,
       {},
       "lb",
       "Off Range",
       0,
       false,
       false,
       false,
       true,
       true},
      {{"\xe1\xe2\xe3", false, false, "M"},
       0,
       {},
       "kg",
       "\u03b1\u03b2\u03b3",
       0,
       false,
       false,
       false,
       false,
       true},
      {{"", false, false, "M"}, 0, {}, "kg", "", 0, false, false, false, false, false},
  };
  for (const Row& r : rows) {
    const SparkplugDevice d = sparkplugDevice(r.view, r.unitFlag, {});
    EXPECT_EQ(std::tuple(d.weight, d.unit, d.text, d.decimals),
              std::tuple(r.weight, r.unit, r.text, r.decimals))
        << r.view.text;
    EXPECT_EQ(std::tuple(d.net, d.motion, d.centreOfZero, d.offRange, d.answering),
              std::tuple(r.net, r.motion, r.centreOfZero, r.offRange, r.answering))
        << r.view.text;
  }
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
