#include "http/http_service.h"

#include "net/mqtt_publisher.h"

namespace trv4 {

HttpService::HttpService(Publishing& publishing, HttpSources sources)
    : publishing_(publishing), sources_(std::move(sources)) {
  sources_.mqttConnected = [&publishing]() -> std::optional<bool> {
    if (MqttPublisher* mqtt = publishing.mqtt()) return mqtt->connected();
    return std::nullopt;
  };
  publishing_.onStarted = [this](const NetSettings& settings) {
    server_ = startHttpServer(settings.http, sources_);
  };
  publishing_.onStopping = [this] { server_.reset(); };
}

HttpService::~HttpService() {
  publishing_.onStarted = nullptr;
  publishing_.onStopping = nullptr;
}

}  // namespace trv4
