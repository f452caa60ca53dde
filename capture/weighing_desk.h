// The capture desk of the program and the gateway: the capture rules (capture_taker) on the
// monitor, the journal behind them, and the listeners told of each capture once it is committed.
// The journal answers later, from its own side, so nothing here waits for a disk; listeners and
// askers are told from an event of their own, never inside the link's reception or the caller's
// call. At most one capture per scale is taken at a time: later askers join it, so however fast
// captures are asked the work waiting is at most a capture per scale.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "base/toolkit.h"
#include "capture/async_journal.h"
#include "capture/capture_desk.h"
#include "capture/capture_taker.h"
#include "display/monitor_model.h"

namespace trv4 {

class WeighingDesk : public CaptureDesk {
 public:
  // served(i): whether the scan cycle polls scale i now.
  WeighingDesk(MonitorModel& monitor, Toolkit& toolkit, std::function<bool(int)> served,
               AsyncJournal& journal);
  ~WeighingDesk() override;

  void capture(const CaptureRequest& request,
               std::function<void(const CaptureOutcome&)> done) override;
  void readAfter(uint64_t sequence, std::size_t limit,
                 std::function<void(std::vector<Capture>)> done) const override;
  std::vector<Capture> newest(std::size_t limit) const override;
  std::size_t waitingForDelivery() const override;
  int addListener(std::function<void(const Capture&)> listener) override;
  void removeListener(int id) override;

  // For delivery: captures not yet delivered after `sequence`, oldest first, later through
  // done; and the mark, stored in the journal's order.
  void readUndelivered(uint64_t sequence, std::size_t limit,
                       std::function<void(std::vector<Capture>)> done) const;
  void markDelivered(uint64_t sequence);

  // Askers not yet told, joined ones included.
  std::size_t waiting() const;

 private:
  using Done = std::function<void(const CaptureOutcome&)>;
  void commit(int scale, const Capture& taken);
  // Tells the listeners of a committed capture, then every asker of the scale.
  void finish(int scale, CaptureOutcome outcome);
  void post(std::function<void()> fn);
  void runPosted();

  CaptureTaker taker_;
  AsyncJournal& journal_;
  std::unique_ptr<Timer> poster_;
  std::deque<std::function<void()>> posted_;
  std::map<int, std::vector<Done>> askers_;  // by scale, first asker first
  std::vector<std::pair<int, std::function<void(const Capture&)>>> listeners_;
  int nextListener_ = 0;
  // Answers of the journal that come after the desk went find it expired.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace trv4
