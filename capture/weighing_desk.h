// The capture desk of the program and the gateway: the capture rules (capture_taker) on the
// monitor, the journal behind them, and the listeners told of each capture once it is committed.
// A capture is committed and its listeners and requester told from a timer tick of its own, so
// none of them runs inside the link's reception or the caller's own call.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "base/toolkit.h"
#include "capture/capture_desk.h"
#include "capture/capture_journal.h"
#include "capture/capture_taker.h"
#include "display/monitor_model.h"

namespace trv4 {

class WeighingDesk : public CaptureDesk {
 public:
  // served(i): whether the scan cycle polls scale i now.
  WeighingDesk(MonitorModel& monitor, Toolkit& toolkit, std::function<bool(int)> served,
               CaptureJournal& journal);
  ~WeighingDesk() override;

  void capture(const CaptureRequest& request,
               std::function<void(const CaptureOutcome&)> done) override;
  std::vector<Capture> after(uint64_t sequence, std::size_t limit) const override;
  std::vector<Capture> newest(std::size_t limit) const override;
  std::size_t waitingForDelivery() const override;
  int addListener(std::function<void(const Capture&)> listener) override;
  void removeListener(int id) override;

  // For delivery: captures not yet delivered after `sequence`, oldest first, and the mark.
  std::vector<Capture> undelivered(uint64_t sequence, std::size_t limit) const;
  void markDelivered(uint64_t sequence);

  // Captures asked for and not yet told.
  std::size_t waiting() const { return taker_.waiting() + posted_.size(); }

 private:
  void commit(CaptureOutcome outcome, const std::function<void(const CaptureOutcome&)>& done);
  void post(std::function<void()> fn);
  void runPosted();

  CaptureTaker taker_;
  CaptureJournal& journal_;
  std::unique_ptr<Timer> poster_;
  std::deque<std::function<void()>> posted_;
  std::vector<std::pair<int, std::function<void(const Capture&)>>> listeners_;
  int nextListener_ = 0;
};

}  // namespace trv4
