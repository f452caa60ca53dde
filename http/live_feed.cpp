#include "http/live_feed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "http/api_json.h"

namespace trv4 {

namespace {

// The dashboard shows this many of the newest captures.
constexpr std::size_t kCapturesShown = 10;
// A client has nothing to say; what it sends is read and dropped, a message at most this long.
constexpr quint64 kIncomingMax = 1024;
// What a client sends is taken from the network this much at a time, so one turn of the event
// loop answers at most this much of its pings.
constexpr qint64 kReadPiece = 4096;

QByteArray message(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

}  // namespace

LiveFeed::LiveFeed(const HttpSources& sources, FeedOptions options, QObject* parent)
    : QObject(parent), sources_(sources), options_(std::move(options)) {
  batch_.setInterval(options_.batchMs);
  connect(&batch_, &QTimer::timeout, this, &LiveFeed::sendWeights);
  linkTimer_.setInterval(options_.linkMs);
  connect(&linkTimer_, &QTimer::timeout, this, &LiveFeed::sendLink);
  if (sources_.captures != nullptr)
    captureListener_ = sources_.captures->addListener([this](const Capture& c) {
      if (clients_.empty()) return;
      QJsonObject o;
      o["type"] = "capture";
      o["capture"] = apiCaptureJson(c);
      sendToAll(message(o));
    });
}

LiveFeed::~LiveFeed() {
  if (captureListener_ >= 0) sources_.captures->removeListener(captureListener_);
  for (QWebSocket* client : clients_) client->disconnect(this);
}

void LiveFeed::add(std::unique_ptr<QWebSocket> socket, QTcpSocket* connection) {
  QWebSocket* client = socket.release();
  client->setParent(this);
  client->setMaxAllowedIncomingFrameSize(kIncomingMax);
  client->setMaxAllowedIncomingMessageSize(kIncomingMax);
  client->setReadBufferSize(kReadPiece);
  if (clients() >= options_.maxClients) {
    connect(client, &QWebSocket::disconnected, client, &QObject::deleteLater);
    client->close(QWebSocketProtocol::CloseCodePolicyViolated,
                  QStringLiteral("too many dashboards; try again later"));
    return;
  }
  clients_.push_back(client);
  connect(client, &QWebSocket::disconnected, this, [this, client] { drop(client); });
  // After the WebSocket has read a piece of its connection, the answers that piece asked for
  // are counted.
  if (connection != nullptr)
    connect(connection, &QIODevice::readyRead, client, [this, client] {
      if (std::find(clients_.begin(), clients_.end(), client) != clients_.end()) keepsUp(client);
    });
  if (clients() == 1) {
    batch_.start();
    linkTimer_.start();
  }
  // The first client sets what every client has; a later one gets the panels as they are now,
  // and the changes still to go out to the others come to it too.
  send(client, snapshot(clients() == 1));
}

void LiveFeed::drop(QWebSocket* client) {
  const auto it = std::find(clients_.begin(), clients_.end(), client);
  if (it == clients_.end()) return;
  clients_.erase(it);
  client->disconnect(this);
  client->deleteLater();
  if (clients_.empty()) {
    batch_.stop();
    linkTimer_.stop();
  }
}

QByteArray LiveFeed::snapshot(bool everyone) {
  QJsonArray scales, link;
  const PlantSnapshot s = sources_.board.read();
  const int64_t now = s.linkNowMs();
  for (int i = 0; i < kMaxScales; ++i) {
    const ScaleSnapshot& scale = s.scales[i];
    if (everyone) polledSent_[i] = scale.polled;
    if (!scale.polled) continue;
    if (everyone) sent_[i] = scale.view;
    scales.append(panelJson(i, scale.view));
    link.append(linkJson(i, scale.counters, scale.answering, now));
  }
  QJsonArray captures;
  if (sources_.captures != nullptr)
    for (const Capture& c : sources_.captures->newest(kCapturesShown))
      captures.append(apiCaptureJson(c));
  QJsonObject o;
  o["type"] = "snapshot";
  o["scales"] = scales;
  o["link"] = link;
  o["captures"] = captures;
  o["capturesOn"] = sources_.captures != nullptr;
  o["writes"] = options_.writes;
  o["commands"] = options_.commands;
  addProgram(o, s);
  return message(o);
}

void LiveFeed::sendWeights() {
  QJsonArray scales;
  const PlantSnapshot s = sources_.board.read();
  for (int i = 0; i < kMaxScales; ++i) {
    const ScaleSnapshot& scale = s.scales[i];
    if (!scale.polled || scale.view == sent_[i]) continue;
    sent_[i] = scale.view;
    scales.append(panelJson(i, scale.view));
  }
  if (scales.isEmpty()) return;
  QJsonObject o;
  o["type"] = "weights";
  o["scales"] = scales;
  sendToAll(message(o));
}

void LiveFeed::addProgram(QJsonObject& o, const PlantSnapshot& s) {
  o["port"] = s.portOpen;
  o["health"] = options_.health ? QString::fromStdString(options_.health()) : QString();
  o["mqtt"] = s.mqttConnected ? QJsonValue(*s.mqttConnected) : QJsonValue();
}

void LiveFeed::sendLink() {
  const PlantSnapshot s = sources_.board.read();
  for (int i = 0; i < kMaxScales; ++i) {
    if (s.scales[i].polled != polledSent_[i]) {
      sendToAll(snapshot(true));  // a scale was switched on or off
      break;
    }
  }
  QJsonArray link;
  const int64_t now = s.linkNowMs();
  for (int i = 0; i < kMaxScales; ++i) {
    const ScaleSnapshot& scale = s.scales[i];
    if (scale.polled) link.append(linkJson(i, scale.counters, scale.answering, now));
  }
  QJsonObject o;
  o["type"] = "link";
  o["link"] = link;
  addProgram(o, s);
  sendToAll(message(o));
}

void LiveFeed::sendToAll(const QByteArray& text) {
  // send() may drop a client: a copy of the list is walked.
  const std::vector<QWebSocket*> clients = clients_;
  for (QWebSocket* client : clients) send(client, text);
}

bool LiveFeed::keepsUp(QWebSocket* client) {
  if (client->bytesToWrite() <= options_.maxBacklog) return true;
  // It does not read: dropped rather than queued for; a page that reconnects gets a snapshot.
  client->abort();
  drop(client);
  return false;
}

void LiveFeed::send(QWebSocket* client, const QByteArray& text) {
  if (keepsUp(client)) client->sendTextMessage(QString::fromUtf8(text));
}

}  // namespace trv4
