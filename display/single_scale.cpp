#include "display/single_scale.h"

#include <algorithm>

#include "link/command_queue.h"

namespace trv4 {

const std::vector<std::string>& singleScaleEntries() {
  static const std::vector<std::string> entries = [] {
    std::vector<std::string> list;
    for (int i = 0; i < kMaxScales; ++i) list.emplace_back(1, scaleAddress(i));
    list.emplace_back("@");
    return list;
  }();
  return entries;
}

const std::vector<std::string>& stepEntries() {
  static const std::vector<std::string> entries{"01", "02", "05", "10", "20", "50"};
  return entries;
}

OneUnit::OneUnit(LinkState& state, DisplaySettings& settings, MonitorModel& monitor, WeightLog& log,
                 Toolkit& toolkit)
    : state_(state), settings_(settings), monitor_(monitor), log_(log), toolkit_(toolkit) {
  shownListener_ = monitor_.addShownListener([this](int i) {
    if (resting_ && i == scaleIndex(settings_.SingleScale)) mirror();
  });
  monitor_.onUnload = [this] { resume(); };  // the next tick loads the monitor again
  log_.onStarted = [this] { resume(); };
}

OneUnit::~OneUnit() {
  monitor_.removeShownListener(shownListener_);
  monitor_.onUnload = nullptr;
  log_.onStarted = nullptr;
}

void OneUnit::load() {
  settings_.StepCombo = "01";
  settings_.SingleScale = "A";
  show(OneUnitView{});
  // Created here rather than in the constructor: the window's timers run from its load.
  resting_ = false;
  timer1_ = toolkit_.createTimer([this] { Timer1_Timer(); });
  timer1_->setInterval(25);
  timer1_->setEnabled(true);
  timer2_ = toolkit_.createTimer([this] { Timer2_Timer(); });
  timer2_->setInterval(500);
  timer2_->setEnabled(true);
}

bool OneUnit::selectScale(const std::string& address) {
  const auto& entries = singleScaleEntries();
  if (std::find(entries.begin(), entries.end(), address) == entries.end()) return false;
  settings_.SingleScale = address;
  if (resting_) mirror();
  return true;
}

void OneUnit::Command1_Click() {
  state_.UnitFlag = state_.UnitFlag == 0 ? 1 : 0;
}
void OneUnit::Command2_Click() {
  QueueCommand(state_, settings_.SingleScale, "Z");
}
void OneUnit::Command3_Click() {
  QueueCommand(state_, settings_.SingleScale, "G");
}
void OneUnit::Command4_Click() {
  QueueCommand(state_, settings_.SingleScale, "T");
}

void OneUnit::Timer1_Timer() {
  OneUnitView next = view_;
  const int i = scaleIndex(settings_.SingleScale);
  mirrorInto(next);
  // "@": no single panel to show, and no log line.
  if (i >= 0 && log_.step()) {
    // "Logging ..." shows until 500 ms after the last line.
    next.loggingVisible = true;
    timer2_->setEnabled(false);
    timer2_->setEnabled(true);
  }
  show(next);
  // With no log to step and the mirror current, a tick would change nothing until the selected
  // panel or the selection changes, the monitor is closed or a log starts: the timer rests until
  // then instead of waking the program 40 times a second. A change while it rests is mirrored
  // at once, which is within the tick it would have waited for.
  if (!log_.LogActive()) {
    resting_ = true;
    timer1_->setEnabled(false);
  }
}

void OneUnit::mirrorInto(OneUnitView& next) {
  const int i = scaleIndex(settings_.SingleScale);
  if (i < 0) {
    next.display.text.clear();
    next.display.netVisible = false;
    next.display.motionVisible = false;
  } else {
    next.display = monitor_.read(i).view;
  }
}

void OneUnit::mirror() {
  OneUnitView next = view_;
  mirrorInto(next);
  show(next);
}

void OneUnit::resume() {
  if (!resting_) return;
  resting_ = false;
  timer1_->setEnabled(true);
}

void OneUnit::Timer2_Timer() {
  timer2_->setEnabled(false);
  OneUnitView next = view_;
  next.loggingVisible = false;
  show(next);
}

void OneUnit::show(const OneUnitView& view) {
  if (view == view_) return;  // a tick that changes nothing repaints nothing
  view_ = view;
  if (onChanged) onChanged();
}

}  // namespace trv4
