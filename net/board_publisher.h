// Keeps the plant board current from the windows' thread: a scale's panel, counters and polling
// at each of its frames and each panel shown, the rest (the port, Find Scales, MQTT, the polled
// set) at a heartbeat too. Each update is a few copies under the board's mutex, which it never
// waits for: what a reader holding it kept from being written goes with the next update.
#pragma once

#include <array>
#include <bitset>
#include <functional>
#include <memory>
#include <optional>

#include "base/toolkit.h"
#include "display/monitor_model.h"
#include "link/line_observer.h"
#include "link/link_state.h"
#include "link/link_stats.h"
#include "link/scale_link.h"
#include "link/serial_port.h"
#include "net/plant_board.h"

namespace trv4 {

// The heartbeat: a change with no frame of its own (the port closed, a scale switched off while
// none is answering) reaches the board within this time.
inline constexpr int kBoardHeartbeatMs = 250;

class BoardPublisher : public LineObserver {
 public:
  // link may be null (no frames then, only panels and the heartbeat). Everything named must
  // outlive the publisher.
  BoardPublisher(PlantBoard& board, MonitorModel& monitor, const LinkState& state,
                 const LinkStats& stats, const SerialPort& port, ScaleLink* link, Toolkit& toolkit);
  ~BoardPublisher() override;
  BoardPublisher(const BoardPublisher&) = delete;
  BoardPublisher& operator=(const BoardPublisher&) = delete;

  // Whether the broker is connected; nullopt while MQTT is off. Read at the heartbeat.
  std::function<std::optional<bool>()> mqttConnected;
  // Sparkplug's counters; nullopt while it is off. Read at the heartbeat.
  std::function<std::optional<SparkplugCounters>()> sparkplugCounters;
  // Everything at once, as the heartbeat does.
  void publishAll();

  void sent(int scale, bool status, std::string_view frame) override;
  void received(int scale, RxKind kind, std::string_view bytes) override;
  void timedOut(int scale, std::string_view leftover) override;

 private:
  // Scale i's part is to be written (outside 0..29: only the line's part).
  void owe(int scale);
  // Writes what is owed, unless a reader holds the board: then at the next frame or heartbeat.
  void flush();

  PlantBoard& board_;
  MonitorModel& monitor_;
  const LinkState& state_;
  const LinkStats& stats_;
  const SerialPort& port_;
  ScaleLink* link_;
  Toolkit& toolkit_;
  std::unique_ptr<Timer> heartbeat_;
  int shownListener_ = -1;
  std::bitset<kMaxScales> owed_;
  std::array<int64_t, kMaxScales> shownAtMs_{};
  int64_t lastSentAtMs_ = 0;
  std::optional<bool> mqtt_;
  std::optional<SparkplugCounters> sparkplug_;
};

}  // namespace trv4
