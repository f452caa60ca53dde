// Store and forward: every committed capture goes to the MQTT broker on
// <prefix>/<address>/capture (QoS 1, not retained) in sequence order, and is marked delivered in
// the journal when the broker acknowledges it. While the broker is away the captures wait in the
// journal; when it is back (also after a restart of the program) they go from the lowest
// undelivered number on. At most kCaptureWindow are handed to the connection at a time, read from
// the journal as acknowledgements come (one read at a time, answered later from the journal's
// side), so memory stays the same however many wait. After a lost
// connection the unacknowledged ones go again: a subscriber may see a capture twice.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/weighing_desk.h"
#include "net/mqtt_transport.h"

namespace trv4 {

inline constexpr std::size_t kCaptureWindow = 16;

class CaptureDelivery {
 public:
  // prefix: the first level of the topics, as TRV4NET.INI sets it.
  CaptureDelivery(WeighingDesk& desk, MqttTransport& transport, std::string prefix);
  ~CaptureDelivery();
  CaptureDelivery(const CaptureDelivery&) = delete;
  CaptureDelivery& operator=(const CaptureDelivery&) = delete;

  // Takes the transport's acknowledgements and the desk's new captures from now on.
  void start();

  std::string topic(int scale) const;
  bool connected() const { return connected_; }
  // Handed to the connection and not yet acknowledged.
  std::size_t inFlight() const { return inFlight_.size(); }
  // Publications since start, repeats included; connections lost or refused since start.
  int64_t published() const { return published_; }
  int64_t losses() const { return losses_; }

 private:
  void pump();
  // Publishes what was read; false when the connection refused one.
  bool hand(const std::vector<Capture>& next);
  void onConnected();
  void onLost();
  void onAcknowledged(int id);

  WeighingDesk& desk_;
  MqttTransport& transport_;
  std::string prefix_;
  int listener_ = -1;
  bool connected_ = false;
  uint64_t handedUpTo_ = 0;           // the highest number handed over on this connection
  std::map<int, uint64_t> inFlight_;  // message id → sequence number
  int64_t published_ = 0;
  int64_t losses_ = 0;
  bool reading_ = false;    // a read of the journal is on its way
  bool readAgain_ = false;  // asked to pump while it was
  int connection_ = 0;      // counts connections: a read for an earlier one is dropped
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace trv4
