#include "capture/weighings.h"

namespace trv4 {

Weighings::Weighings(MonitorModel& monitor, Toolkit& toolkit, std::function<bool(int)> served,
                     const std::string& journalPath, JournalOptions options)
    : journal_(toolkit, journalPath, options),
      desk_(monitor, toolkit, std::move(served), journal_) {}

Weighings::~Weighings() = default;

void Weighings::deliverThrough(Publishing& publishing) {
  publishing.onMqttStarted = [this](MqttTransport& transport, const MqttSettings& settings) {
    delivery_ = std::make_unique<CaptureDelivery>(desk_, transport, settings.prefix);
    delivery_->start();
  };
  publishing.onMqttStopping = [this] { delivery_.reset(); };
}

}  // namespace trv4
