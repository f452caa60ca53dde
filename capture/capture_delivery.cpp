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
  if (reading_) {
    readAgain_ = true;  // something new may have come after the read was asked
    return;
  }
  if (!connected_ || inFlight_.size() >= kCaptureWindow) return;
  reading_ = true;
  readAgain_ = false;
  desk_.readUndelivered(handedUpTo_, kCaptureWindow - inFlight_.size(),
                        [this, alive = std::weak_ptr<char>(alive_),
                         connection = connection_](std::vector<Capture> next) {
                          if (alive.expired()) return;
                          reading_ = false;
                          const bool current = connection == connection_;
                          const bool handed = current && hand(next);
                          if (!current || readAgain_ || (handed && !next.empty())) pump();
                        });
}

bool CaptureDelivery::hand(const std::vector<Capture>& next) {
  for (const Capture& c : next) {
    if (!connected_) return false;
    if (c.sequence <= handedUpTo_) continue;
    const std::optional<int> id = transport_.publishWithId(topic(c.scale), captureMessage(c), kQos);
    if (!id) return false;  // the connection is going: what is left goes on the next one
    inFlight_[*id] = c.sequence;
    handedUpTo_ = c.sequence;
    ++published_;
  }
  return true;
}

void CaptureDelivery::onConnected() {
  ++connection_;
  connected_ = true;
  inFlight_.clear();
  handedUpTo_ = 0;
  pump();
}

void CaptureDelivery::onLost() {
  ++losses_;
  ++connection_;
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
