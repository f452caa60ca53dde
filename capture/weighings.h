// Weighings as the program and the gateway run them: the journal beside TRV4.INI on its own
// thread, the capture desk on the monitor, and the delivery of captures over the MQTT connection
// that publishing makes, while it is on. What reads the desk from another thread (HTTP) stops
// before this goes.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/toolkit.h"
#include "capture/capture_delivery.h"
#include "capture/journal_thread.h"
#include "capture/weighing_desk.h"
#include "display/monitor_model.h"
#include "net/publishing.h"

namespace trv4 {

class Weighings {
 public:
  // served(i): whether the scan cycle polls scale i now (ScaleLink::serves).
  Weighings(MonitorModel& monitor, Toolkit& toolkit, std::function<bool(int)> served,
            const std::string& journalPath, JournalOptions options = {});
  ~Weighings();

  // Delivers captures on every MQTT connection publishing starts, until it stops it. Both must
  // outlive neither: publishing stops (or goes) first.
  void deliverThrough(Publishing& publishing);

  WeighingDesk& desk() { return desk_; }
  JournalThread& journal() { return journal_; }
  // Null while MQTT is off.
  CaptureDelivery* delivery() { return delivery_.get(); }

 private:
  JournalThread journal_;
  WeighingDesk desk_;
  std::unique_ptr<CaptureDelivery> delivery_;
};

}  // namespace trv4
