// The monitor window's thirty panels, one per scale address: the program's one store of
// displayed weights. The widget renders this model; the single-scale window and the weight log
// read it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "display/display_settings.h"
#include "display/weight_format.h"
#include "link/link_state.h"
#include "link/scan_display.h"

namespace trv4 {

struct MonitorPanel {
  PanelView view;                   // WDisp caption, NetLbl, MotLbl
  bool addressEnabled = true;       // ScaleAddr enabled (greyed when the scale is not polled)
  bool addressHighlighted = false;  // dark blue while the scale is being polled
};

// The window is loaded by its first use after start-up or after it was closed: a status reply,
// a scan step, or a reader of its panels. Loading empties every panel, so a monitor closed by the
// operator comes back empty at the next scan step. Every operation taking a panel index ignores
// an index outside 0..29.
class MonitorModel : public ScanDisplay {
 public:
  // saveSettings writes the configuration file (after a polling switch). The unit (UnitFlag of
  // state) and the step text (StepCombo of settings) are read on every status reply.
  MonitorModel(LinkState& state, const DisplaySettings& settings,
               std::function<void()> saveSettings);

  // Window load: every panel empty, address labels enabled as ScanList says (0 greys them).
  void load();
  // The window was closed: the next use loads it again.
  void unload() {
    loaded_ = false;
    if (onUnload) onUnload();
  }
  // Runs after each unload, so the single-scale window's mirror comes to use it again.
  std::function<void()> onUnload;
  bool loaded() const { return loaded_; }
  // Runs after each load, so the program can create and show the window.
  std::function<void()> onLoad;

  // A status reply of scale scl: reloads its DisplayHold countdown, then shows the reply.
  void DispWeight(int16_t scl, const std::string& st) override;
  void blankPanel(int scale) override;
  void setAddressHighlight(int scale, bool polled) override;

  // Double-click on WDisp(i): switch polling of scale i and write the configuration file. The
  // panel's weight text and indicators stay as they are.
  void toggleScan(int scale);
  // Polls exactly the scales marked 1 and writes the configuration file once, as a double-click
  // does; the address labels of the others grey.
  void setScanList(const std::array<int, kMaxScales>& list);

  // Panel i (0..29) as it stands, loading the window first when it is not loaded: what the
  // single-scale window and the weight log read.
  const MonitorPanel& read(int i);
  // Panel i as it stands, without loading: what the window itself renders.
  const MonitorPanel& panel(int i) const { return panels_.at(i); }

  // Called after any panel changed, so a widget can repaint it.
  std::function<void(int)> onPanelChanged;
  // Told after each status reply or blanking what panel i shows now, for the service tools;
  // removeShownListener with the id addShownListener gave ends it.
  int addShownListener(std::function<void(int)> listener);
  void removeShownListener(int id);

 private:
  void changed(int i);
  void shown(int i);
  void ensureLoaded();

  LinkState& state_;
  const DisplaySettings& settings_;
  std::function<void()> saveSettings_;
  std::array<MonitorPanel, kMaxScales> panels_;
  std::vector<std::pair<int, std::function<void(int)>>> shownListeners_;
  int nextListener_ = 0;
  bool loaded_ = false;
};

}  // namespace trv4
