// The dashboard's live feed over WebSockets (GET /api/v1/live, upgraded on the HTTP port). Each
// client gets, as JSON text messages:
//   {"type":"snapshot", "scales":[panel...], "link":[health...], "captures":[newest...],
//    "capturesOn":bool, "writes":bool, "commands":bool, and the program's state as in "link"}
//                                             at once, and again when the polled set changes
//   {"type":"weights", "scales":[panel...]}   the panels that changed, at most every 100 ms
//   {"type":"link", "link":[health...], "port":bool, "health":"", "mqtt":bool|null}  every second
//   {"type":"capture", "capture":{...}}       each committed capture
// (panel, health and capture as http/api_json.h builds them). Clients are few and bounded; one
// that does not keep up with its messages is dropped, so nothing queues without bound. What a
// client sends is read in small pieces and dropped; Qt answers its pings itself, so after every
// piece the answers waiting for it count against the same bound. While a client is there, the
// feed compares the board's panels with what it sent every batch; with no client it does
// nothing.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/http_sources.h"

namespace trv4 {

struct FeedOptions {
  int maxClients = 16;
  // Bytes a client may leave unread before it is dropped, Qt's answers to its pings included.
  qint64 maxBacklog = 256 * 1024;
  int batchMs = 100;
  int linkMs = 1000;
  bool writes = false;                  // a token is set: the page offers captures
  bool commands = false;                // commands by HTTP are on
  std::function<std::string()> health;  // /healthz's reason, "" while healthy
};

class LiveFeed : public QObject {
  Q_OBJECT

 public:
  LiveFeed(const HttpSources& sources, FeedOptions options, QObject* parent = nullptr);
  ~LiveFeed() override;

  // Takes a new client: it gets the snapshot at once, or is closed when the feed is full.
  // connection: the TCP connection the WebSocket reads, when known.
  void add(std::unique_ptr<QWebSocket> socket, QTcpSocket* connection = nullptr);
  int clients() const { return static_cast<int>(clients_.size()); }

 private:
  void sendWeights();
  void sendLink();
  void sendToAll(const QByteArray& message);
  void send(QWebSocket* client, const QByteArray& message);
  // Drops the client when it leaves more than maxBacklog unread; false then.
  bool keepsUp(QWebSocket* client);
  void drop(QWebSocket* client);
  // everyone: it goes to every client, and becomes what they all have.
  QByteArray snapshot(bool everyone);
  // The port, /healthz's reason and MQTT: "port", "health", "mqtt".
  void addProgram(QJsonObject& o, const PlantSnapshot& s);

  HttpSources sources_;
  FeedOptions options_;
  std::vector<QWebSocket*> clients_;  // children of the feed
  QTimer batch_;
  QTimer linkTimer_;
  int captureListener_ = -1;
  std::array<PanelView, kMaxScales> sent_{};   // what every client has been sent
  std::array<bool, kMaxScales> polledSent_{};  // the polled set as the last snapshot to all had it
};

}  // namespace trv4
