#include "net/board_publisher.h"

namespace trv4 {

BoardPublisher::BoardPublisher(PlantBoard& board, MonitorModel& monitor, const LinkState& state,
                               const LinkStats& stats, const SerialPort& port, ScaleLink* link,
                               Toolkit& toolkit)
    : board_(board),
      monitor_(monitor),
      state_(state),
      stats_(stats),
      port_(port),
      link_(link),
      toolkit_(toolkit) {
  const int64_t now = toolkit_.steadyMs();
  board_.write(now, [now](PlantSnapshot& s) { s.lastSentAtMs = now; });
  publishAll();
  shownListener_ = monitor_.addShownListener([this](int i) { publishScale(i, true); });
  if (link_ != nullptr) link_->addObserver(*this);
  heartbeat_ = toolkit_.createTimer([this] { publishAll(); });
  heartbeat_->setInterval(kBoardHeartbeatMs);
  heartbeat_->setEnabled(true);
}

BoardPublisher::~BoardPublisher() {
  if (link_ != nullptr) link_->removeObserver(*this);
  monitor_.removeShownListener(shownListener_);
}

void BoardPublisher::scaleInto(PlantSnapshot& s, int i) const {
  ScaleSnapshot& scale = s.scales[i];
  scale.view = monitor_.panel(i).view;
  scale.polled = state_.ScanList[i] == 1;
  scale.answering = state_.DisplayHold[i] > 0 && !scale.view.text.empty();
  scale.counters = stats_.scale(i);
}

void BoardPublisher::lineInto(PlantSnapshot& s) const {
  s.unitFlag = state_.UnitFlag;
  s.singleScaleMode = state_.SingleScaleMode != 0;
  s.portOpen = port_.portOpen();
  s.suspended = link_ != nullptr && link_->suspended();
}

void BoardPublisher::publishAll() {
  const std::optional<bool> mqtt = mqttConnected ? mqttConnected() : std::nullopt;
  board_.write(toolkit_.steadyMs(), [&](PlantSnapshot& s) {
    for (int i = 0; i < kMaxScales; ++i) scaleInto(s, i);
    lineInto(s);
    s.mqttConnected = mqtt;
  });
}

void BoardPublisher::publishScale(int i, bool shown) {
  if (i < 0 || i >= kMaxScales) return;
  const int64_t at = shown ? toolkit_.wallMs() : 0;
  board_.write(toolkit_.steadyMs(), [&](PlantSnapshot& s) {
    scaleInto(s, i);
    if (shown) s.scales[i].shownAtMs = at;
    lineInto(s);
  });
}

void BoardPublisher::sent(int scale, bool, std::string_view) {
  const int64_t now = toolkit_.steadyMs();
  board_.write(now, [&](PlantSnapshot& s) {
    s.lastSentAtMs = now;
    if (scale >= 0 && scale < kMaxScales) scaleInto(s, scale);
    lineInto(s);
  });
}

void BoardPublisher::received(int scale, RxKind, std::string_view) {
  publishScale(scale, false);
}

void BoardPublisher::timedOut(int scale, std::string_view) {
  publishScale(scale, false);
}

}  // namespace trv4
