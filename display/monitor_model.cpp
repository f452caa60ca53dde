#include "display/monitor_model.h"

#include <utility>

namespace trv4 {

namespace {

bool validPanel(int i) {
  return i >= 0 && i < kMaxScales;
}

}  // namespace

MonitorModel::MonitorModel(LinkState& state, const DisplaySettings& settings,
                           std::function<void()> saveSettings)
    : state_(state), settings_(settings), saveSettings_(std::move(saveSettings)) {}

void MonitorModel::load() {
  loaded_ = true;
  for (int i = 0; i < kMaxScales; ++i) {
    panels_[i] = MonitorPanel{};
    panels_[i].addressEnabled = state_.ScanList[i] != 0;
    changed(i);
  }
  if (onLoad) onLoad();
}

void MonitorModel::ensureLoaded() {
  if (!loaded_) load();
}

const MonitorPanel& MonitorModel::read(int i) {
  ensureLoaded();
  return panels_.at(i);
}

void MonitorModel::DispWeight(int16_t scl, const std::string& st) {
  if (!validPanel(scl)) return;
  ensureLoaded();
  state_.DisplayHold[scl] = state_.DisplayHoldReload;
  applyDisplayRule(st, state_.UnitFlag, settings_.StepCombo, panels_[scl].view);
  changed(scl);
  shown(scl);
}

void MonitorModel::blankPanel(int scale) {
  if (!validPanel(scale)) return;
  ensureLoaded();
  PanelView& view = panels_[scale].view;
  view.text.clear();
  view.netVisible = false;
  view.motionVisible = false;
  changed(scale);
  shown(scale);
}

void MonitorModel::setAddressHighlight(int scale, bool polled) {
  if (!validPanel(scale)) return;
  ensureLoaded();
  panels_[scale].addressHighlighted = polled;
  changed(scale);
}

void MonitorModel::toggleScan(int scale) {
  if (!validPanel(scale)) return;
  ensureLoaded();
  int& flag = state_.ScanList[scale];
  flag = flag == 0 ? 1 : 0;
  panels_[scale].addressEnabled = flag != 0;
  changed(scale);
  if (saveSettings_) saveSettings_();
}

void MonitorModel::setScanList(const std::array<int, kMaxScales>& list) {
  ensureLoaded();
  for (int i = 0; i < kMaxScales; ++i) {
    state_.ScanList[i] = list[i] != 0 ? 1 : 0;
    panels_[i].addressEnabled = list[i] != 0;
    changed(i);
  }
  if (saveSettings_) saveSettings_();
}

int MonitorModel::addShownListener(std::function<void(int)> listener) {
  shownListeners_.emplace_back(++nextListener_, std::move(listener));
  return nextListener_;
}

void MonitorModel::removeShownListener(int id) {
  std::erase_if(shownListeners_, [id](const auto& l) { return l.first == id; });
}

void MonitorModel::shown(int i) {
  for (const auto& l : shownListeners_) l.second(i);
}

void MonitorModel::changed(int i) {
  if (onPanelChanged) onPanelChanged(i);
}

}  // namespace trv4
