// The monitor window's thirty panels, one per scale address: the program's one store of
// displayed weights. The widget renders this model; the single-scale window and the weight log
// read it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "display/display_settings.h"
#include "display/weight_format.h"
#include "link/link_state.h"
#include "link/scan_display.h"

namespace trv4 {

struct MonitorPanel {
  PanelView view;            // WDisp caption, NetLbl, MotLbl
  bool addressEnabled = true;      // ScaleAddr enabled (greyed when the scale is not polled)
  bool addressHighlighted = false; // dark blue while the scale is being polled
};

class MonitorModel : public ScanDisplay {
 public:
  // saveSettings writes the configuration file (after a polling switch).
  MonitorModel(LinkState& state, const DisplaySettings& settings,
               std::function<void()> saveSettings);

  // Window load: every panel empty, address labels enabled as ScanList says.
  void load();

  void DispWeight(int16_t scl, const std::string& st) override;
  void blankPanel(int scale) override;
  void setAddressHighlight(int scale, bool polled) override;

  // Double-click on WDisp(i): switch polling of scale i and write the configuration file.
  void toggleScan(int scale);

  const MonitorPanel& panel(int i) const { return panels_.at(i); }

  // Called after any panel changed, so a widget can repaint it.
  std::function<void(int)> onPanelChanged;

 private:
  LinkState& state_;
  const DisplaySettings& settings_;
  std::function<void()> saveSettings_;
  std::array<MonitorPanel, kMaxScales> panels_;
};

}  // namespace trv4
