// The single-scale window's logic (OneUnit): the selected address, the display step and unit,
// the zero/tare/gross buttons, and its two timers: Timer1 mirrors the selected monitor panel and
// runs the weight log, Timer2 hides "Logging ..." half a second after the last log line.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "display/display_settings.h"
#include "display/monitor_model.h"
#include "display/weight_log.h"
#include "link/link_state.h"

namespace trv4 {

// The entries of SingleScale, in order: "A".."^", then "@" (all scales).
const std::vector<std::string>& singleScaleEntries();
// The entries of StepCombo, in order.
const std::vector<std::string>& stepEntries();

// What the window shows besides its boxes.
struct OneUnitView {
  PanelView display;            // LDisp caption, NetLbl, MotLbl
  bool loggingVisible = false;  // MsgLbl "Logging ..."

  bool operator==(const OneUnitView&) const = default;
};

class OneUnit {
 public:
  OneUnit(LinkState& state, DisplaySettings& settings, MonitorModel& monitor, WeightLog& log,
          Toolkit& toolkit);
  ~OneUnit();
  OneUnit(const OneUnit&) = delete;
  OneUnit& operator=(const OneUnit&) = delete;

  // Window load: step "01", address "A", empty display, Timer1 (25 ms) and Timer2 (500 ms)
  // running.
  void load();

  // The address box: only one of its 31 entries is taken; false (and no change) otherwise.
  bool selectScale(const std::string& address);
  // The step box: any text, read as a number by the weight formatting of the next replies.
  void setStep(const std::string& text) { settings_.StepCombo = text; }

  void Command1_Click();  // "kg/lb"
  void Command2_Click();  // ">0<": zero
  void Command3_Click();  // ">G<": gross
  void Command4_Click();  // ">T<": tare

  void Timer1_Timer();
  void Timer2_Timer();

  const OneUnitView& view() const { return view_; }
  const DisplaySettings& settings() const { return settings_; }
  Timer& Timer1() { return *timer1_; }
  // Timer1 was stopped by a tick that had nothing to do (see Timer1_Timer).
  bool timer1Resting() const { return resting_; }
  // Timer1's interval, 0 before the window is loaded.
  int timer1Interval() const { return timer1_ ? timer1_->interval() : 0; }
  Timer& Timer2() { return *timer2_; }

  // Runs after the view changed, so a widget can repaint.
  std::function<void()> onChanged;

 private:
  void show(const OneUnitView& view);
  // The selected panel (nothing for "@") into next's display.
  void mirrorInto(OneUnitView& next);
  void mirror();
  // A resting Timer1 runs again.
  void resume();

  LinkState& state_;
  DisplaySettings& settings_;
  MonitorModel& monitor_;
  WeightLog& log_;
  Toolkit& toolkit_;
  std::unique_ptr<Timer> timer1_;
  std::unique_ptr<Timer> timer2_;
  OneUnitView view_;
  bool resting_ = false;
  int shownListener_ = 0;
};

}  // namespace trv4
