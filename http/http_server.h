// The HTTP server for the plant's IT, on Qt HttpServer, off unless TRV4NET.INI turns it on:
//   GET  /api/v1/scales                      every polled scale as MQTT publishes it
//   GET  /api/v1/scales/{address}            one polled scale; 404 otherwise
//   POST /api/v1/scales/{address}/captures   a capture through the capture desk: 201 or why not
//   GET  /api/v1/captures?after=SEQ&limit=N  committed captures after SEQ, oldest first
//   POST /api/v1/scales/{address}/commands   "Z", "T" or "G" through the command gate
//   GET  /metrics                            Prometheus text
//   GET  /healthz                            200 while polling runs, 503 and why otherwise
//   GET  /                                   the dashboard; GET /api/v1/live its WebSocket feed
// Writes need "Authorization: Bearer <token>" and are off without a token. Everything runs on
// the event loop of the user-interface thread and never waits: a capture's answer goes out when
// the desk tells its outcome. It listens exactly where bind says, as the Modbus server does.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http/connection_guard.h"
#include "http/http_sources.h"
#include "http/polling_health.h"
#include "net/net_settings.h"

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;

namespace trv4 {

class LiveFeed;

struct HttpLimits {
  GuardLimits guard;
  int maxDashboards = 16;
  int feedBatchMs = 100;        // the dashboards get the panels that changed at most this often
  int maxPendingCaptures = 32;  // captures waiting for their outcome, over every client
};

class HttpServer : public QObject {
  Q_OBJECT

 public:
  HttpServer(const HttpSettings& settings, const HttpSources& sources, HttpLimits limits = {},
             QObject* parent = nullptr);
  ~HttpServer() override;

  // Starts listening; "" when it does, else why not in plain words. A host name is looked up
  // first, without waiting: when it names nothing or an address cannot be listened on, that is
  // told later through the toolkit's message box, and the server stays off. Port 0 (tests)
  // takes a free port.
  std::string start();
  // The addresses it listens on, and the port; empty and 0 while it does not (yet).
  const QList<QHostAddress>& listening() const { return listening_; }
  quint16 port() const { return port_; }
  int connections() const;
  // Bytes of answers written and not yet taken by the clients.
  qint64 unsentBytes() const;
  int dashboards() const;
  // /healthz's reason: "" while polling runs.
  std::string healthProblem() const;

 private:
  struct PendingCapture;
  using Responder = QHttpServerResponder;

  std::string listen(const QList<QHostAddress>& addresses);
  void addRoutes();
  void scales(const QHttpServerRequest& request, Responder& out);
  void scale(const QString& address, const QHttpServerRequest& request, Responder& out);
  void capture(const QString& address, const QHttpServerRequest& request, Responder&& out);
  void captureDone(uint64_t id, const CaptureOutcome& outcome);
  void captures(const QHttpServerRequest& request, Responder& out);
  void command(const QString& address, const QHttpServerRequest& request, Responder& out);
  void metrics(Responder& out);
  void healthz(Responder& out);
  void live(const QHttpServerRequest& request, Responder& out);
  // False (and 503 sent, the connection closing) when the guard took the connection on trial
  // above its limits and the request does not show the token.
  bool admitted(const QHttpServerRequest& request, Responder& out);
  // False (and the answer sent) when the request may not write: 503 without a token, 401
  // without the right one.
  bool mayWrite(const QHttpServerRequest& request, Responder& out);
  int64_t shownAt(int scale);

  HttpSettings settings_;
  HttpSources sources_;
  HttpLimits limits_;
  std::unique_ptr<QHttpServer> server_;
  std::unique_ptr<LiveFeed> feed_;  // after server_: its sockets go before the guards do
  std::vector<QPointer<ConnectionGuard>> guards_;
  std::map<uint64_t, std::unique_ptr<PendingCapture>> pending_;
  uint64_t nextCapture_ = 0;
  SentClock sentClock_;
  int shownListener_ = -1;
  std::array<int64_t, kMaxScales> shownAt_{};
  std::map<QString, QByteArray> pages_;  // the dashboard's files
  QList<QHostAddress> listening_;
  quint16 port_ = 0;
};

// The server TRV4NET.INI enables, listening; null when it leaves HTTP off or the server could
// not start (told through the toolkit). The program and the gateway start it beside publishing.
std::unique_ptr<HttpServer> startHttpServer(const HttpSettings& settings,
                                            const HttpSources& sources);

}  // namespace trv4
