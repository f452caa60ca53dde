#include "net/mosquitto_transport.h"

#include <mosquitto.h>
#include <unistd.h>

#include <QMetaObject>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>

#include "net/mqtt_publisher.h"

namespace trv4 {

namespace {

constexpr int kKeepAliveS = 30;
// How long a clean end waits for "offline" to leave before it lets the thread finish alone.
constexpr auto kGoodbyeWait = std::chrono::milliseconds(2000);
// A CA file larger than this is no CA file.
constexpr std::uintmax_t kCaFileMax = 1 << 20;

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

struct MosquittoTransport::Shared {
  MqttSettings settings;
  MqttConnectionOptions options;

  // The caller's use of the handle; null once the thread has destroyed it.
  std::mutex handleMutex;
  mosquitto* mosq = nullptr;

  // Events go to the user-interface thread through context, while there is one.
  std::mutex postMutex;
  QObject* context = nullptr;
  MosquittoTransport* self = nullptr;

  std::atomic<bool> connected{false};
  std::atomic<bool> stopping{false};
  std::atomic<bool> goodbye{false};  // "offline" and the disconnect are queued
  // The goodbye's message id while the disconnect waits for the broker to acknowledge it
  // (guarded by handleMutex).
  int goodbyeMid = -1;
  bool refused = false;  // the broker refused this try (thread only)
  std::mutex waitMutex;
  std::condition_variable wake;
  std::promise<void> done;
  std::vector<std::shared_future<void>> earlier;  // connections whose end the first try awaits

  void post(std::function<void(MosquittoTransport&)> event) {
    std::lock_guard<std::mutex> lock(postMutex);
    if (!context) return;
    MosquittoTransport* target = self;
    QMetaObject::invokeMethod(
        context, [target, event = std::move(event)] { event(*target); }, Qt::QueuedConnection);
  }
  void postLost(const MqttFailure& why) {
    post([why](MosquittoTransport& t) {
      if (t.handlers_.lost) t.handlers_.lost(why);
      if (t.ackHandlers_.lost) t.ackHandlers_.lost();
    });
  }
  // A failure with this broker.
  MqttFailure failureOf(MqttFailureCode code, std::string detail = {}) const {
    return {
        .code = code, .host = settings.host, .port = settings.port, .detail = std::move(detail)};
  }
  // Why a try to connect failed, or an open connection ended.
  MqttFailure failure(int rc, int savedErrno, bool wasConnected) const {
    if (rc == MOSQ_ERR_EAI) return failureOf(MqttFailureCode::kHostNotFound);
    if (rc == MOSQ_ERR_TLS) return failureOf(MqttFailureCode::kTlsFailed);
    const std::string reason =
        rc == MOSQ_ERR_ERRNO ? std::strerror(savedErrno) : mosquitto_strerror(rc);
    return failureOf(
        wasConnected ? MqttFailureCode::kConnectionLost : MqttFailureCode::kUnreachable, reason);
  }

  // Sleeps ms, or less when the transport is finishing.
  void pause(int ms) {
    std::unique_lock<std::mutex> lock(waitMutex);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping.load(); });
  }
  // Waits for the earlier connections to end, at most kMqttGoodbyeLimit in all.
  void awaitEarlier() {
    const auto until = std::chrono::steady_clock::now() + kMqttGoodbyeLimit;
    for (const std::shared_future<void>& e : earlier) {
      while (!stopping && std::chrono::steady_clock::now() < until &&
             e.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
      }
    }
    earlier.clear();
  }

  void run();
};

namespace {

MosquittoTransport::Shared& sharedOf(void* obj) {
  return *static_cast<MosquittoTransport::Shared*>(obj);
}

}  // namespace

void MosquittoTransport::Shared::run() {
  awaitEarlier();
  int backOff = options.backOff.firstMs;
  bool first = true;
  while (!stopping) {
    refused = false;
    if (options.willEachTry) {
      const std::string payload = options.willEachTry();
      std::lock_guard<std::mutex> lock(handleMutex);
      mosquitto_will_set(mosq, options.willTopic.c_str(), static_cast<int>(payload.size()),
                         payload.data(), options.willQos, options.willRetain);
    }
    int rc = first
                 ? mosquitto_connect_async(mosq, settings.host.c_str(), settings.port, kKeepAliveS)
                 : mosquitto_reconnect_async(mosq);
    first = false;
    bool wasConnected = false;
    int savedErrno = errno;
    if (rc == MOSQ_ERR_SUCCESS) {
      auto goodbyeSince = std::chrono::steady_clock::time_point{};
      do {
        rc = mosquitto_loop(mosq, 1000, 1);
        savedErrno = errno;
        if (connected) {
          wasConnected = true;
          backOff = options.backOff.firstMs;
        }
        if (goodbye && goodbyeSince == std::chrono::steady_clock::time_point{})
          goodbyeSince = std::chrono::steady_clock::now();
        if (goodbye && std::chrono::steady_clock::now() - goodbyeSince > kGoodbyeWait) break;
      } while (rc == MOSQ_ERR_SUCCESS && (!stopping || goodbye));
    }
    connected = false;
    if (stopping) break;
    if (!refused) postLost(failure(rc, savedErrno, wasConnected));
    pause(backOff);
    backOff = std::min(backOff * 2, options.backOff.lastMs);
  }
  {
    std::lock_guard<std::mutex> lock(handleMutex);
    mosquitto_destroy(mosq);
    mosq = nullptr;
  }
  done.set_value();
}

namespace {

MqttConnectionOptions jsonConnection(const MqttSettings& settings, std::string willTopic,
                                     std::string willPayload, MqttBackOff backOff) {
  MqttConnectionOptions o;
  o.willTopic = std::move(willTopic);
  o.willPayload = std::move(willPayload);
  o.willQos = settings.qos;
  o.backOff = backOff;
  return o;
}

}  // namespace

MosquittoTransport::MosquittoTransport(const MqttSettings& settings, std::string willTopic,
                                       std::string willPayload, MqttBackOff backOff)
    : MosquittoTransport(settings, jsonConnection(settings, std::move(willTopic),
                                                  std::move(willPayload), backOff)) {}

MosquittoTransport::MosquittoTransport(const MqttSettings& settings, MqttConnectionOptions options)
    : shared_(std::make_shared<Shared>()), context_(std::make_unique<QObject>()) {
  initLibrary();
  end_ = shared_->done.get_future().share();
  shared_->settings = settings;
  shared_->options = std::move(options);
  shared_->context = context_.get();
  shared_->self = this;
}

MosquittoTransport::~MosquittoTransport() {
  if (!worker_.joinable()) return;
  finish({}, {}, 0, false);
  // Still busy with its goodbye or stuck on the network: it ends alone and frees what it holds.
  if (!ended(std::chrono::milliseconds(0))) worker_.detach();
}

void MosquittoTransport::follow(std::vector<std::shared_future<void>> earlier) {
  shared_->earlier = std::move(earlier);
}

bool MosquittoTransport::ended(std::chrono::milliseconds wait) {
  if (!worker_.joinable()) return true;
  if (end_.wait_for(wait) != std::future_status::ready) return false;
  worker_.join();
  return true;
}

std::string MosquittoTransport::clientId(const MqttSettings& settings) {
  if (!settings.clientId.empty()) return settings.clientId;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') std::strcpy(name, "localhost");
  return std::string("trv4-") + name;
}

std::optional<MqttFailure> MosquittoTransport::problem(const MqttSettings& settings) {
  if (settings.caFile.empty()) return std::nullopt;
  namespace fs = std::filesystem;
  const auto failure = [&](MqttFailureCode code) {
    return MqttFailure{.code = code, .caFile = settings.caFile};
  };
  std::error_code error;
  if (!fs::is_regular_file(settings.caFile, error) ||
      fs::file_size(settings.caFile, error) > kCaFileMax)
    return failure(MqttFailureCode::kCaFileNotAFile);
  std::ifstream in(settings.caFile, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return failure(MqttFailureCode::kCaFileUnreadable);
  if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    return failure(MqttFailureCode::kCaFileNoCertificate);
  return std::nullopt;
}

void MosquittoTransport::start(Handlers handlers) {
  handlers_ = std::move(handlers);
  Shared& s = *shared_;
  const std::string id = s.options.clientId.empty() ? clientId(s.settings) : s.options.clientId;
  s.mosq = mosquitto_new(id.c_str(), true, &s);
  if (!s.mosq) {
    if (handlers_.lost) handlers_.lost(s.failureOf(MqttFailureCode::kClientNotSetUp));
    return;
  }
  mosquitto_threaded_set(s.mosq, true);
  mosquitto_int_option(s.mosq, MOSQ_OPT_TCP_NODELAY, 1);
  if (!s.settings.username.empty())
    mosquitto_username_pw_set(s.mosq, s.settings.username.c_str(),
                              s.settings.password.empty() ? nullptr : s.settings.password.c_str());
  if (!s.settings.caFile.empty() &&
      mosquitto_tls_set(s.mosq, s.settings.caFile.c_str(), nullptr, nullptr, nullptr, nullptr) !=
          MOSQ_ERR_SUCCESS) {
    mosquitto_destroy(s.mosq);
    s.mosq = nullptr;
    if (handlers_.lost)
      handlers_.lost({.code = MqttFailureCode::kCaFileUnusable, .caFile = s.settings.caFile});
    return;
  }
  if (!s.options.willEachTry)  // else set before each try
    mosquitto_will_set(s.mosq, s.options.willTopic.c_str(),
                       static_cast<int>(s.options.willPayload.size()), s.options.willPayload.data(),
                       s.options.willQos, s.options.willRetain);
  mosquitto_connect_callback_set(s.mosq, [](mosquitto*, void* obj, int rc) {
    Shared& sh = sharedOf(obj);
    if (rc == 0) {
      sh.connected = true;
      sh.post([](MosquittoTransport& t) {
        if (t.handlers_.connected) t.handlers_.connected();
        if (t.ackHandlers_.connected) t.ackHandlers_.connected();
      });
      return;
    }
    sh.refused = true;
    sh.postLost(sh.failureOf(MqttFailureCode::kRefused, mosquitto_connack_string(rc)));
  });
  mosquitto_publish_callback_set(s.mosq, [](mosquitto* mosq, void* obj, int id) {
    Shared& sh = sharedOf(obj);
    {
      // The broker has the goodbye: only now is the connection closed. Closed at once, the
      // acknowledge could meet a closed socket, the broker see the connection reset before it
      // read the disconnect, and send the will as well.
      std::lock_guard<std::mutex> lock(sh.handleMutex);
      if (sh.goodbye && id == sh.goodbyeMid) mosquitto_disconnect(mosq);
    }
    sh.post([id](MosquittoTransport& t) { t.acknowledged(id); });
  });
  mosquitto_message_callback_set(s.mosq, [](mosquitto*, void* obj, const mosquitto_message* m) {
    const std::size_t length = m->payloadlen > 0 ? static_cast<std::size_t>(m->payloadlen) : 0;
    const std::size_t most = sharedOf(obj).options.messageMax;
    const bool tooLong = length > most;
    const bool retained = m->retain;
    std::string topic = m->topic ? m->topic : "";
    std::string payload(static_cast<const char*>(m->payload), tooLong ? most : length);
    sharedOf(obj).post([topic = std::move(topic), payload = std::move(payload), tooLong,
                        retained](MosquittoTransport& t) {
      if (t.handlers_.message) t.handlers_.message(topic, payload, tooLong, retained);
    });
  });
  std::shared_ptr<Shared> keep = shared_;
  worker_ = std::thread([keep] { keep->run(); });
}

bool MosquittoTransport::publish(const std::string& topic, const std::string& payload, int qos,
                                 bool retain) {
  Shared& s = *shared_;
  if (!s.connected || s.goodbye) return false;
  std::lock_guard<std::mutex> lock(s.handleMutex);
  return s.mosq &&
         mosquitto_publish(s.mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
}

std::optional<int> MosquittoTransport::publishWithId(const std::string& topic,
                                                     const std::string& payload, int qos) {
  Shared& s = *shared_;
  if (!s.connected || s.goodbye) return std::nullopt;
  int id = 0;
  {
    std::lock_guard<std::mutex> lock(s.handleMutex);
    if (!s.mosq || mosquitto_publish(s.mosq, &id, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), qos, false) != MOSQ_ERR_SUCCESS)
      return std::nullopt;
  }
  // Its acknowledgement comes as a queued event, so always after this.
  ackIds_.insert(id);
  return id;
}

void MosquittoTransport::acknowledged(int id) {
  if (ackIds_.erase(id) == 0) {
    if (handlers_.delivered) handlers_.delivered();
  } else if (ackHandlers_.acknowledged) {
    ackHandlers_.acknowledged(id);
  }
}

void MosquittoTransport::subscribe(const std::string& pattern, int qos) {
  Shared& s = *shared_;
  std::lock_guard<std::mutex> lock(s.handleMutex);
  if (s.mosq && s.connected) mosquitto_subscribe(s.mosq, nullptr, pattern.c_str(), qos);
}

void MosquittoTransport::finish(const std::string& topic, const std::string& payload, int qos,
                                bool retain) {
  Shared& s = *shared_;
  {
    std::lock_guard<std::mutex> lock(s.postMutex);
    s.context = nullptr;
  }
  context_.reset();  // events already queued go with it
  {
    std::lock_guard<std::mutex> lock(s.handleMutex);
    if (s.mosq && s.connected && !topic.empty()) {
      int mid = 0;
      if (mosquitto_publish(s.mosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                            payload.data(), qos, retain) == MOSQ_ERR_SUCCESS &&
          qos > 0) {
        s.goodbyeMid = mid;  // the disconnect follows its acknowledge
      } else {
        mosquitto_disconnect(s.mosq);
      }
      s.goodbye = true;
    }
  }
  {
    std::lock_guard<std::mutex> lock(s.waitMutex);
    s.stopping = true;
  }
  s.wake.notify_all();
  // The thread sends the goodbye and ends on its own time; the caller never waits for it.
  if (!worker_.joinable() && !endSet_) {
    endSet_ = true;
    s.done.set_value();  // no thread: nothing to wait for
  }
}

}  // namespace trv4
