// A connection to an MQTT broker as the publisher sees it: it keeps trying to connect on its own
// and tells what happens through its handlers, always on the user-interface thread. Nothing here
// waits on the network.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "net/mqtt_failure.h"

namespace trv4 {

class MqttTransport {
 public:
  struct Handlers {
    std::function<void()> connected;
    // The connection failed or ended, and why.
    std::function<void(const MqttFailure& why)> lost;
    // A publication was handed to the broker (acknowledged at quality 1 and 2).
    std::function<void()> delivered;
    // A message arrived on a subscribed topic. A payload longer than the transport keeps is
    // passed cut, with tooLong set; retained is set for a message the broker kept from earlier
    // and hands over because of the subscription.
    std::function<void(const std::string& topic, const std::string& payload, bool tooLong,
                       bool retained)>
        message;
  };

  virtual ~MqttTransport() = default;

  // Starts connecting; the handlers run from then on.
  virtual void start(Handlers handlers) = 0;
  // Queues a publication; false when it cannot be queued (no connection).
  virtual bool publish(const std::string& topic, const std::string& payload, int qos,
                       bool retain) = 0;
  virtual void subscribe(const std::string& pattern, int qos) = 0;
  // A clean end: publishes the last message if connected, then disconnects. Returns at once:
  // both leave on the transport's own time. No handler runs afterwards.
  virtual void finish(const std::string& topic, const std::string& payload, int qos,
                      bool retain) = 0;

  // Captures (capture/capture_delivery) share the connection: a second set of handlers, told of
  // the connection and of each of their own publications the broker acknowledged, by its id.
  // Their acknowledgements do not reach Handlers::delivered.
  struct AckHandlers {
    std::function<void()> connected;
    std::function<void()> lost;
    std::function<void(int id)> acknowledged;
  };
  // Replaces the second set; an empty one ends it.
  virtual void setAckHandlers(AckHandlers handlers) { (void)handlers; }
  // Queues a publication whose acknowledgement AckHandlers::acknowledged tells; its message id,
  // or nothing when it cannot be queued (no connection).
  virtual std::optional<int> publishWithId(const std::string& topic, const std::string& payload,
                                           int qos) {
    (void)topic, (void)payload, (void)qos;
    return std::nullopt;
  }
};

}  // namespace trv4
