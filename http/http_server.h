// The HTTP server for the plant's IT, on Qt HttpServer, off unless TRV4NET.INI turns it on:
//   GET  /api/v1/scales                      every polled scale as MQTT publishes it
//   GET  /api/v1/scales/{address}            one polled scale; 404 otherwise
//   POST /api/v1/scales/{address}/captures   a capture through the capture desk: 201 or why not
//   GET  /api/v1/captures?after=SEQ&limit=N  committed captures after SEQ, oldest first
//   POST /api/v1/scales/{address}/commands   "Z", "T" or "G" through the command gate
//   GET  /metrics                            Prometheus text
//   GET  /healthz                            200 while polling runs, 503 and why otherwise
//   GET  /                                   the dashboard; GET /api/v1/live its WebSocket feed
// Every request is first checked: its Host must name this server (http/served_names.h), else
// 421, and only /api/v1/live may ask for an upgrade, else 400; a refused request reaches no route.
// Writes need "Authorization: Bearer <token>" and are off without a token. Everything runs on
// the event loop of the thread the server was made on and never waits: it reads the link's side
// from the plant board, and a capture's or command's answer goes out when the desk or the gate
// tells its outcome. It listens exactly where bind says (net/bound_listeners.h).
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "http/connection_guard.h"
#include "http/http_sources.h"
#include "http/polling_health.h"
#include "http/served_names.h"
#include "net/net_settings.h"

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;
class QWebSocket;

namespace trv4 {

class LiveFeed;

struct HttpLimits {
  GuardLimits guard;
  int maxDashboards = 16;
  int feedBatchMs = 100;        // the dashboards get the panels that changed at most this often
  int feedLinkMs = 1000;        // and the link's health this often
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

  // What the route table takes: a method and a path ("<arg>" a scale's address). Any other path
  // is 404; any other method on one of these paths 405, its Allow naming the methods listed.
  struct RouteName {
    QByteArray method;
    QString path;
  };
  static std::vector<RouteName> routes();

 private:
  struct PendingReply;
  struct Route;
  struct Call;
  using Responder = QHttpServerResponder;

  static std::span<const Route> table();
  void addRoutes();
  // Runs the table's route for path and the request's method, or answers 405.
  void serve(const QString& path, const QString& address, const QHttpServerRequest& request,
             Responder& out);
  void scales(Responder& out);
  void scale(const QString& address, Responder& out);
  void capture(const QString& address, const QHttpServerRequest& request, Responder&& out);
  void captureDone(uint64_t id, const CaptureOutcome& outcome);
  void captures(const QHttpServerRequest& request, Responder& out);
  void capturesRead(uint64_t id, uint64_t after, const std::vector<Capture>& rows);
  void command(const QString& address, const QHttpServerRequest& request, Responder&& out);
  void commandDone(uint64_t id, const std::string& address, char command,
                   const std::optional<std::string>& refused);
  // Keeps an answer that comes later (a capture's, a read's, a command's) in one of the maps
  // below; its connection reads nothing more meanwhile. release gives it back, null when the
  // client went.
  using Pending = std::map<uint64_t, std::unique_ptr<PendingReply>>;
  uint64_t hold(Responder&& out, Pending* pending);
  std::unique_ptr<PendingReply> release(uint64_t id, Pending* from);
  void metrics(Responder& out);
  void healthz(Responder& out);
  void live(const QHttpServerRequest& request, Responder& out);
  void page(const QString& path, Responder& out);
  // False (and 503 sent, the connection closing) when the guard took the connection on trial
  // above its limits and the request does not show the token.
  bool admitted(const QHttpServerRequest& request, Responder& out);
  // False (and the answer sent) when the request may not write: 503 without a token, 401
  // without the right one.
  bool mayWrite(const QHttpServerRequest& request, Responder& out);
  // When the scale's panel last showed something new, ms since 1970; now before the first.
  int64_t shownAt(const ScaleSnapshot& scale);
  QTcpSocket* connectionOf(const QWebSocket& socket) const;

  HttpSettings settings_;
  HttpSources sources_;
  HttpLimits limits_;
  std::unique_ptr<QHttpServer> server_;
  std::unique_ptr<LiveFeed> feed_;  // after server_: its sockets go before the guards do
  std::vector<QPointer<ConnectionGuard>> guards_;
  Pending pending_;   // captures awaiting their outcome
  Pending reads_;     // GET captures awaiting the journal
  Pending commands_;  // commands awaiting the gate
  uint64_t nextPending_ = 0;
  std::map<QString, QByteArray> pages_;  // the dashboard's files
  QList<QHostAddress> listening_;
  quint16 port_ = 0;
  ServedNames names_;  // set once it listens
};

// The server TRV4NET.INI enables, listening; null when it leaves HTTP off or the server could
// not start (told through the toolkit). The program and the gateway start it beside publishing.
std::unique_ptr<HttpServer> startHttpServer(const HttpSettings& settings,
                                            const HttpSources& sources);

}  // namespace trv4
