#include "capture/capture_delivery.h"

#include "capture/capture_json.h"
#include "link/link_state.h"

namespace trv4 {

namespace {
constexpr int kQos = 1;
}

CaptureDelivery::CaptureDelivery(WeighingDesk& desk, MqttTransport& transport, std::string prefix)
    : desk_(desk), transport_(transport), prefix_(std::move(prefix)) {}

CaptureDelivery::~CaptureDelivery() {
  if (listener_ >= 0) desk_.removeListener(listener_);
  transport_.setAckHandlers({});
}

void CaptureDelivery::start() {
  MqttTransport::AckHandlers h;
  h.connected = [this] { onConnected(); };
  h.lost = [this] { onLost(); };
  h.acknowledged = [this](int id) { onAcknowledged(id); };
  transport_.setAckHandlers(std::move(h));
  listener_ = desk_.addListener([this](const Capture&) { pump(); });
}

std::string CaptureDelivery::topic(int scale) const {
  return prefix_ + "/" + std::string(1, scaleAddress(scale)) + "/capture";
}

void CaptureDelivery::pump() {
  while (connected_ && inFlight_.size() < kCaptureWindow) {
    const std::vector<Capture> next =
        desk_.undelivered(handedUpTo_, kCaptureWindow - inFlight_.size());
    if (next.empty()) return;
    for (const Capture& c : next) {
      const std::optional<int> id =
          transport_.publishWithId(topic(c.scale), captureMessage(c), kQos);
      if (!id) return;  // the connection is going: what is left goes on the next one
      inFlight_[*id] = c.sequence;
      handedUpTo_ = c.sequence;
      ++published_;
    }
  }
}

void CaptureDelivery::onConnected() {
  connected_ = true;
  inFlight_.clear();
  handedUpTo_ = 0;
  pump();
}

void CaptureDelivery::onLost() {
  ++losses_;
  connected_ = false;
  inFlight_.clear();
  handedUpTo_ = 0;
}

void CaptureDelivery::onAcknowledged(int id) {
  const auto it = inFlight_.find(id);
  if (it == inFlight_.end()) return;  // from a connection before the last loss
  desk_.markDelivered(it->second);
  inFlight_.erase(it);
  pump();
}

}  // namespace trv4
