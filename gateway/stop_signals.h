// SIGTERM and SIGINT turned into a call on the event loop's thread: the handler only writes the
// signal's number into a pipe, which the loop watches, so the gateway ends between two events
// and can close its log and say goodbye to the broker.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace trv4 {

class StopSignals {
 public:
  // onStop(signal) runs on the event loop's thread, once per signal received.
  explicit StopSignals(std::function<void(int signal)> onStop);
  // The signals' default actions come back.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  std::function<void(int)> onStop_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace trv4
