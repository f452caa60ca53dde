#include "tests/support/mqtt_broker.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>

namespace trv4::test {

namespace {

bool accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

}  // namespace

int freeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

bool pumpUntil(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limitMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

namespace {

// Runs a shell command in dir; false when it fails.
bool run(const std::string& dir, const std::string& command) {
  return std::system(("cd '" + dir + "' && " + command + " >/dev/null 2>&1").c_str()) == 0;
}

// A CA, a second unrelated CA, and the broker's key and certificate for localhost, made with
// openssl in dir.
bool makeCertificates(const std::string& dir) {
  const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  return run(dir, "openssl req -x509 " + ec +
                      " -keyout ca.key -out ca.pem -days 2 -subj /CN=line-test-ca") &&
         run(dir, "openssl req -x509 " + ec +
                      " -keyout stranger.key -out stranger.pem -days 2 -subj /CN=stranger-ca") &&
         run(dir,
             "openssl req " + ec + " -keyout server.key -out server.csr -subj /CN=localhost") &&
         run(dir,
             "printf 'subjectAltName=DNS:localhost,IP:127.0.0.1' > san.ext && "
             "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
             "-out server.pem -days 2 -extfile san.ext");
}

}  // namespace

MqttBroker::MqttBroker(std::string user, std::string password, bool tls) : port_(freeTcpPort()) {
  std::string conf = "listener " + std::to_string(port_) + " 127.0.0.1\npersistence false\n";
  // Run as root, the broker would become "mosquitto" and could not read the test's own folder.
  if (geteuid() == 0) conf += "user root\n";
  if (user.empty()) {
    conf += "allow_anonymous true\n";
  } else {
    const std::string file = dir_.file("passwords");
    const std::string command =
        "mosquitto_passwd -c -b '" + file + "' '" + user + "' '" + password + "' >/dev/null";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "mosquitto_passwd failed";
    conf += "allow_anonymous false\npassword_file " + file + "\n";
  }
  if (tls) {
    if (!makeCertificates(dir_.path())) ADD_FAILURE() << "openssl could not make the certificates";
    conf += "cafile " + dir_.file("ca.pem") + "\ncertfile " + dir_.file("server.pem") +
            "\nkeyfile " + dir_.file("server.key") + "\n";
  }
  scalesim::writeFile(dir_.file("mosquitto.conf"), conf);
}

MqttBroker::~MqttBroker() {
  stop();
}

bool MqttBroker::start() {
  process_ = std::make_unique<scalesim::Process>(
      "/usr/sbin/mosquitto", std::vector<std::string>{"-c", dir_.file("mosquitto.conf")},
      dir_.path(), std::vector<std::string>{}, "mosquitto.out");
  return scalesim::waitFor([&] { return accepts(port_); }, 10000);
}

void MqttBroker::stop() {
  if (process_) process_->stop(SIGTERM, 5000);
  process_.reset();
}

MqttSubscriber::MqttSubscriber(int port, const std::string& pattern, const std::string& clientId) {
  mosquitto_lib_init();
  mosq_ = mosquitto_new(clientId.empty() ? nullptr : clientId.c_str(), true, this);
  mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* obj, int rc) {
    auto* self = static_cast<MqttSubscriber*>(obj);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->connected_ = rc == 0;
  });
  mosquitto_message_callback_set(mosq_, [](mosquitto*, void* obj, const mosquitto_message* m) {
    auto* self = static_cast<MqttSubscriber*>(obj);
    Message msg{
        m->topic,
        std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
        m->retain, std::chrono::steady_clock::now()};
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->messages_.push_back(std::move(msg));
  });
  mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
  if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return;
  mosquitto_subscribe(mosq_, nullptr, pattern.c_str(), 1);
  mosquitto_loop_start(mosq_);
  scalesim::waitFor([&] { return connected(); }, 5000);
}

MqttSubscriber::~MqttSubscriber() {
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, false);
  mosquitto_destroy(mosq_);
}

bool MqttSubscriber::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

std::vector<MqttSubscriber::Message> MqttSubscriber::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::string MqttSubscriber::last(const std::string& topic) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = messages_.rbegin(); it != messages_.rend(); ++it)
    if (it->topic == topic) return it->payload;
  return {};
}

int MqttSubscriber::count(const std::string& topic) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const Message& m : messages_) n += m.topic == topic;
  return n;
}

bool MqttSubscriber::publish(const std::string& topic, const std::string& payload, bool retain) {
  return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), 1, retain) == MOSQ_ERR_SUCCESS;
}

}  // namespace trv4::test
