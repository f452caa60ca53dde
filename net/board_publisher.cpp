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
  lastSentAtMs_ = toolkit_.steadyMs();
  shownListener_ = monitor_.addShownListener([this](int i) {
    if (i < 0 || i >= kMaxScales) return;
    shownAtMs_[i] = toolkit_.wallMs();
    owe(i);
  });
  if (link_ != nullptr) link_->addObserver(*this);
  heartbeat_ = toolkit_.createTimer([this] { publishAll(); });
  heartbeat_->setInterval(kBoardHeartbeatMs);
  heartbeat_->setEnabled(true);
  publishAll();
}

BoardPublisher::~BoardPublisher() {
  if (link_ != nullptr) link_->removeObserver(*this);
  monitor_.removeShownListener(shownListener_);
}

void BoardPublisher::publishAll() {
  owed_.set();
  flush();
}

void BoardPublisher::owe(int scale) {
  if (scale >= 0 && scale < kMaxScales) owed_.set(static_cast<std::size_t>(scale));
  flush();
}

void BoardPublisher::flush() {
  const bool all = owed_.all();
  const std::optional<bool> mqtt =
      all && mqttConnected ? mqttConnected() : std::optional<bool>(mqtt_);
  const std::optional<SparkplugCounters> sparkplug =
      all && sparkplugCounters ? sparkplugCounters() : sparkplug_;
  const bool written = board_.tryWrite(toolkit_.steadyMs(), [&](PlantSnapshot& s) {
    for (int i = 0; i < kMaxScales; ++i) {
      if (!owed_.test(static_cast<std::size_t>(i))) continue;
      ScaleSnapshot& scale = s.scales[i];
      scale.view = monitor_.panel(i).view;
      scale.polled = scanMarked(state_, i);
      // A closed port hears nobody, whatever the panels go on showing.
      scale.answering = port_.portOpen() && state_.DisplayHold[i] > 0 && !scale.view.text.empty();
      scale.counters = stats_.scale(i);
      scale.shownAtMs = shownAtMs_[i];
    }
    s.unitFlag = state_.UnitFlag;
    s.singleScaleMode = state_.SingleScaleMode != 0;
    s.portOpen = port_.portOpen();
    s.suspended = link_ != nullptr && link_->suspended();
    s.lastSentAtMs = lastSentAtMs_;
    s.mqttConnected = mqtt;
    s.sparkplug = sparkplug;
  });
  mqtt_ = mqtt;
  sparkplug_ = sparkplug;
  if (written) owed_.reset();
}

void BoardPublisher::sent(int scale, bool, std::string_view) {
  lastSentAtMs_ = toolkit_.steadyMs();
  owe(scale);
}

void BoardPublisher::received(int scale, RxKind, std::string_view) {
  owe(scale);
}

void BoardPublisher::timedOut(int scale, std::string_view) {
  owe(scale);
}

}  // namespace trv4
