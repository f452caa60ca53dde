#include "display/monitor_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trv4 {
namespace {

std::string status(int bits, const std::string& field) {
  return std::string(1, static_cast<char>(0x40 | bits)) + field;
}

class MonitorModelTest : public ::testing::Test {
 protected:
  MonitorModelTest() {
    model.onPanelChanged = [this](int i) { changed.push_back(i); };
    model.load();
    changed.clear();
  }

  LinkState state;
  DisplaySettings settings;
  std::vector<std::vector<int>> saved;  // ScanList 0..4 at each configuration write
  std::vector<int> changed;             // panels reported changed, in order
  MonitorModel model{state, settings, [this] {
                       saved.emplace_back(state.ScanList.begin(), state.ScanList.begin() + 5);
                     }};
};

TEST_F(MonitorModelTest, LoadEmptiesPanelsAndFollowsScanList) {
  model.DispWeight(0, status(NetBit, "012.34"));
  model.setAddressHighlight(0, true);
  state.ScanList.fill(0);
  state.ScanList[0] = 1;
  state.ScanList[29] = 2;  // any value but 0 counts as polled
  changed.clear();

  model.load();

  EXPECT_EQ(changed.size(), 30u);
  for (int i = 0; i < kMaxScales; ++i) {
    const MonitorPanel& p = model.panel(i);
    EXPECT_EQ(p.view, PanelView{}) << i;
    EXPECT_FALSE(p.addressHighlighted) << i;
    EXPECT_EQ(p.addressEnabled, i == 0 || i == 29) << i;
  }
}

TEST_F(MonitorModelTest, NetIndicatorShowsThenHidesAcrossTwoReplies) {
  model.DispWeight(4, status(StableBit | NetBit, "012.34"));
  EXPECT_TRUE(model.panel(4).view.netVisible);
  EXPECT_EQ(model.panel(4).view.text, "12.34 kg");
  model.DispWeight(4, status(StableBit, "012.30"));
  EXPECT_FALSE(model.panel(4).view.netVisible);
  EXPECT_EQ(model.panel(4).view.text, "12.30 kg");
  EXPECT_EQ(changed, (std::vector<int>{4, 4}));
  EXPECT_EQ(model.panel(3).view, PanelView{});
}

TEST_F(MonitorModelTest, DispWeightReloadsOnlyThatScalesCountdown) {
  state.DisplayHoldReload = 7;
  state.DisplayHold.fill(1);
  model.DispWeight(5, status(StableBit, "012.34"));
  EXPECT_EQ(state.DisplayHold[5], 7);
  EXPECT_EQ(state.DisplayHold[4], 1);
  EXPECT_EQ(state.DisplayHold[6], 1);
}

TEST_F(MonitorModelTest, ReadsUnitAndStepOnEveryReply) {
  const std::string reply = status(StableBit, "012.34");
  model.DispWeight(0, reply);
  EXPECT_EQ(model.panel(0).view.text, "12.34 kg");
  settings.StepCombo = "05";
  model.DispWeight(0, reply);
  EXPECT_EQ(model.panel(0).view.text, "12.35 kg");
  state.UnitFlag = 1;
  model.DispWeight(0, reply);
  EXPECT_EQ(model.panel(0).view.text, "27.20 lb");
}

TEST_F(MonitorModelTest, BlankPanelEmptiesTextAndHidesIndicators) {
  model.DispWeight(7, status(NetBit, "012.34"));
  model.blankPanel(7);
  const PanelView& v = model.panel(7).view;
  EXPECT_EQ(v.text, "");
  EXPECT_FALSE(v.netVisible);
  EXPECT_FALSE(v.motionVisible);
  EXPECT_EQ(changed, (std::vector<int>{7, 7}));
}

TEST_F(MonitorModelTest, ToggleScanTwiceRestoresPollingAndSavesEachTime) {
  model.DispWeight(1, status(StableBit | NetBit, "012.34"));
  const PanelView shown = model.panel(1).view;
  ASSERT_EQ(state.ScanList[1], 1);

  model.toggleScan(1);
  EXPECT_EQ(state.ScanList[1], 0);
  EXPECT_FALSE(model.panel(1).addressEnabled);
  EXPECT_EQ(model.panel(1).view, shown);

  model.toggleScan(1);
  EXPECT_EQ(state.ScanList[1], 1);
  EXPECT_TRUE(model.panel(1).addressEnabled);
  EXPECT_EQ(model.panel(1).view, shown);

  // Written after each switch, with the new value already in place.
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0], (std::vector<int>{1, 0, 1, 1, 1}));
  EXPECT_EQ(saved[1], (std::vector<int>{1, 1, 1, 1, 1}));
}

TEST_F(MonitorModelTest, ToggleScanSwitchesAnyNonZeroFlagOff) {
  state.ScanList[12] = 3;
  model.toggleScan(12);
  EXPECT_EQ(state.ScanList[12], 0);
  EXPECT_FALSE(model.panel(12).addressEnabled);
}

TEST_F(MonitorModelTest, IndicesOutsideThePanelsAreIgnored) {
  const auto holds = state.DisplayHold;
  const auto scanList = state.ScanList;
  for (int bad : {-1, 30, 31, 35, 32767, -32768}) {
    model.DispWeight(static_cast<int16_t>(bad), status(NetBit, "012.34"));
    model.blankPanel(bad);
    model.setAddressHighlight(bad, true);
    model.toggleScan(bad);
  }
  EXPECT_EQ(state.DisplayHold, holds);
  EXPECT_EQ(state.ScanList, scanList);
  EXPECT_TRUE(changed.empty());
  EXPECT_TRUE(saved.empty());
}

}  // namespace
}  // namespace trv4
