#include "link/traffic_ring.h"

#include <algorithm>

#include "link/frame.h"

namespace trv4 {

namespace {
constexpr char kAckChar = '\x06';
constexpr char kNakChar = '\x15';
}  // namespace

TrafficRing::TrafficRing(Toolkit& toolkit, std::size_t capacity)
    : toolkit_(toolkit), slots_(std::max<std::size_t>(capacity, 1)) {}

const TrafficEntry& TrafficRing::at(std::size_t i) const {
  const std::size_t oldest = (next_ + slots_.size() - size_) % slots_.size();
  return slots_[(oldest + i) % slots_.size()];
}

void TrafficRing::clear() {
  size_ = 0;
  next_ = 0;
}

void TrafficRing::record(int scale, bool outgoing, TrafficKind kind, std::string_view bytes) {
  if (!roomTaken_) {
    for (TrafficEntry& slot : slots_) slot.bytes.reserve(kTrafficEntryBytes);
    roomTaken_ = true;
  }
  TrafficEntry& e = slots_[next_];
  e.wallMs = toolkit_.wallMs();
  e.sequence = ++sequence_;
  e.scale = scale;
  e.outgoing = outgoing;
  e.kind = kind;
  const std::size_t kept = std::min(bytes.size(), kTrafficEntryBytes);
  e.bytes.assign(bytes.data(), kept);
  e.omitted = bytes.size() - kept;
  next_ = (next_ + 1) % slots_.size();
  size_ = std::min(size_ + 1, slots_.size());
}

void TrafficRing::sent(int scale, bool status, std::string_view frame) {
  record(scale, true, status ? TrafficKind::StatusRequest : TrafficKind::Command, frame);
}

void TrafficRing::received(int scale, RxKind kind, std::string_view bytes) {
  TrafficKind k = TrafficKind::Noise;
  switch (kind) {
    case RxKind::StatusReply:
      k = TrafficKind::StatusReply;
      break;
    case RxKind::Reply:
      // STX, address, ACK or NAK, block check, ETX.
      k = bytes.size() == 6 && (bytes[2] == kAckChar || bytes[2] == kNakChar)
              ? TrafficKind::Acknowledge
              : TrafficKind::Reply;
      break;
    case RxKind::Echo:
      k = TrafficKind::Echo;
      break;
    case RxKind::Dropped:
      k = TrafficKind::Fragment;
      break;
    case RxKind::WrongAddress:
      k = TrafficKind::WrongAddress;
      break;
    case RxKind::Noise:
      k = TrafficKind::Noise;
      break;
  }
  record(scale, false, k, bytes);
}

void TrafficRing::timedOut(int scale, std::string_view leftover) {
  if (!leftover.empty())
    record(scale, false, leftover.front() == STX ? TrafficKind::Fragment : TrafficKind::Noise,
           leftover);
  record(scale, false, TrafficKind::TimeOut, {});
}

}  // namespace trv4
