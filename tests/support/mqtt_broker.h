// Debian's mosquitto broker on 127.0.0.1 at a free port, in a folder of its own, and a subscriber
// on libmosquitto that keeps what arrives: what the MQTT tests publish to and read from.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/scalesim/sim_session.h"

struct mosquitto;

namespace trv4::test {

// A TCP port on 127.0.0.1 nothing listens on just now.
int freeTcpPort();

// Whether a text (a payload, a message shown) holds part.
inline bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class MqttBroker {
 public:
  // With a user and password, only that user may connect. With tls, it takes TLS connections
  // only, with a certificate for "localhost" signed by the CA in caFile().
  explicit MqttBroker(std::string user = {}, std::string password = {}, bool tls = false);
  ~MqttBroker();

  int port() const { return port_; }
  std::string caFile() const { return dir_.file("ca.pem"); }
  // A CA of its own that signed nothing the broker holds.
  std::string strangerCaFile() const { return dir_.file("stranger.pem"); }
  // Starts the broker (again, on the same port); true once it takes connections.
  bool start();
  void stop();

 private:
  scalesim::TempDir dir_;
  int port_;
  std::unique_ptr<scalesim::Process> process_;
};

class MqttSubscriber {
 public:
  struct Message {
    std::string topic, payload;
    bool retained = false;
    std::chrono::steady_clock::time_point at;
  };

  // Connects to the broker at port and subscribes to pattern; with a client id, as that client
  // (the broker then ends another client's connection under that id).
  MqttSubscriber(int port, const std::string& pattern, const std::string& clientId = {});
  ~MqttSubscriber();

  bool connected() const;
  std::vector<Message> messages() const;
  // The last payload on topic, "" when none came.
  std::string last(const std::string& topic) const;
  int count(const std::string& topic) const;
  // Publishes as another client of the plant would.
  bool publish(const std::string& topic, const std::string& payload, bool retain = false);

 private:
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  bool connected_ = false;
};

// Runs the Qt event loop until done() holds or limitMs of real time pass.
bool pumpUntil(const std::function<bool()>& done, int limitMs = 10000);

}  // namespace trv4::test
