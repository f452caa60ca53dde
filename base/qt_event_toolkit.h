// The toolkit's event-loop side on Qt Core: precise QTimers, the event loop and the clock. The
// windowed program and the headless gateway share it and differ only in how they tell and ask.
#pragma once

#include <cstdint>

#include "base/toolkit.h"

namespace trv4 {

class QtEventToolkit : public Toolkit {
 public:
  std::unique_ptr<Timer> createTimer(std::function<void()> onTick) override;
  void yield() override;
  ClockText clockText() override;
  int64_t steadyMs() override;
  int64_t wallMs() override;

 private:
  // The texts of the second last asked for: a log line at every 25 ms tick lays them out once a
  // second instead of each time.
  int64_t clockSecond_ = INT64_MIN;
  ClockText clock_;
};

}  // namespace trv4
