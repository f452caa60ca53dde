#include "display/monitor_model.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace trv4 {
namespace {

std::string status(int bits, const std::string& field) {
  return static_cast<char>(0x40 | bits) + field;
}

class MonitorModelTest : public ::testing::Test {
 protected:
  MonitorModelTest() {
    model.load();
    model.onPanelChanged = [this](int i) { changed.push_back(i); };
  }
  const PanelView& view(int i) const { return model.panel(i).view; }

  LinkState state;
  DisplaySettings settings;
  std::vector<std::vector<int>> saved;  // ScanList 0..4 at each configuration write
  std::vector<int> changed;             // panels reported changed, in order
  MonitorModel model{state, settings, [this] {
                       saved.emplace_back(state.ScanList.begin(), state.ScanList.begin() + 5);
                     }};
};

TEST_F(MonitorModelTest, ToggleScanTwiceSavesEachTimeAndKeepsThePanelAndBlankEmptiesIt) {
  model.DispWeight(1, status(NetBit, "012.34"));  // net, in motion
  state.ScanList[1] = 3;                          // any value but 0 counts as polled
  model.toggleScan(1);
  EXPECT_FALSE(model.panel(1).addressEnabled);
  model.toggleScan(1);
  EXPECT_TRUE(model.panel(1).addressEnabled);
  EXPECT_EQ(saved, (std::vector<std::vector<int>>{{1, 0, 1, 1, 1}, {1, 1, 1, 1, 1}}));
  ASSERT_EQ(view(1), (PanelView{"12.34 kg", true, true, "M"}));  // kept
  model.blankPanel(1);                                           // the motion caption stays, hidden
  EXPECT_EQ(view(1), (PanelView{"", false, false, "M"}));
  EXPECT_EQ(changed, (std::vector<int>{1, 1, 1, 1}));
}

TEST_F(MonitorModelTest, AReplyReloadsItsOwnHoldAndIndicesOutsideThePanelsAreIgnored) {
  state.DisplayHoldReload = 7;
  state.DisplayHold.fill(1);
  const LinkState before = state;
  for (int bad : {-1, 30, 32767, -32768}) {
    model.DispWeight(static_cast<int16_t>(bad), status(NetBit, "012.34"));
    model.blankPanel(bad);
    model.setAddressHighlight(bad, true);
    model.toggleScan(bad);
  }
  EXPECT_EQ(state.DisplayHold, before.DisplayHold);
  EXPECT_EQ(state.ScanList, before.ScanList);
  EXPECT_TRUE(changed.empty());
  EXPECT_TRUE(saved.empty());
  // The first and the last panel are panels.
  for (int16_t good : {0, 29}) model.DispWeight(good, status(StableBit, "012.34"));
  EXPECT_EQ(changed, (std::vector<int>{0, 29}));
  EXPECT_EQ(view(29).text, "12.34 kg");
  EXPECT_EQ(std::tuple(state.DisplayHold[0], state.DisplayHold[1], state.DisplayHold[29]),
            std::tuple(7, 1, 7));
}

}  // namespace
}  // namespace trv4
