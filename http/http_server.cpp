#include "http/http_server.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerRouterRule>
#include <QJsonArray>
#include <QJsonObject>
#include <QWebSocket>
#include <algorithm>

#include "http/api_json.h"
#include "http/bearer_token.h"
#include "http/live_feed.h"
#include "http/metrics_text.h"
#include "http/quiet_qt_logging.h"
#include "http/request_params.h"
#include "net/bind_address.h"
#include "net/bound_listeners.h"
#include "net/weight_message.h"

namespace trv4 {

namespace {

using Method = QHttpServerRequest::Method;
using StatusCode = QHttpServerResponder::StatusCode;
using Header = std::pair<QByteArray, QByteArray>;

const QString kLivePath = QStringLiteral("/api/v1/live");

// Why the server takes no part of a request, before any route runs.
struct Refusal {
  int status;
  const char* error;
  const char* message;
};

// A request without Host (HTTP/1.0) is served: no browser sends one without it, so it comes from
// no page of another site.
std::optional<Refusal> refusalOf(const ServedNames& names, const QHttpServerRequest& request) {
  int hosts = 0;
  QByteArray host;
  for (const auto& [name, value] : request.headers()) {
    if (name.compare("host", Qt::CaseInsensitive) != 0) continue;
    ++hosts;
    host = value.trimmed();
  }
  if (hosts > 1) return Refusal{400, "bad request", "a request names one host"};
  if (hosts == 1 && !names.acceptsHost(host))
    return Refusal{421, "misdirected request",
                   "this server does not answer to the host the request names"};
  if (!request.value("upgrade").isEmpty() && request.url().path() != kLivePath)
    return Refusal{400, "bad request", "only /api/v1/live is upgraded, to a WebSocket"};
  return std::nullopt;
}

// Every route of the server: it takes a request only when the server takes it at all. A refused
// request is then the missing handler's, which tells why; one Qt would upgrade, Qt closes through
// the guard, which answers 400.
class ServedRule : public QHttpServerRouterRule {
 public:
  ServedRule(const QString& path, const ServedNames* names, RouterHandler handler)
      : QHttpServerRouterRule(path, std::move(handler)), names_(names) {}

 protected:
  bool matches(const QHttpServerRequest& request, QRegularExpressionMatch* match) const override {
    return QHttpServerRouterRule::matches(request, match) && !refusalOf(*names_, request);
  }

 private:
  const ServedNames* names_;
};

const QByteArray kJson = "application/json";
// GET /api/v1/captures waiting for the journal's rows at once, over every client.
constexpr std::size_t kCaptureReadsMax = 16;

void send(QHttpServerResponder& out, int status, const QByteArray& type, const QByteArray& body,
          std::initializer_list<Header> headers = {}) {
  out.writeStatusLine(static_cast<StatusCode>(status));
  out.writeHeader("Content-Type", type);
  out.writeHeader("Content-Length", QByteArray::number(body.size()));
  out.writeHeader("Cache-Control", "no-store");
  out.writeHeader("X-Content-Type-Options", "nosniff");
  for (const Header& h : headers) out.writeHeader(h.first, h.second);
  out.writeBody(body);
}

void sendError(QHttpServerResponder& out, int status, const std::string& error,
               const std::string& message, std::initializer_list<Header> headers = {}) {
  send(out, status, kJson, errorBody(error, message), headers);
}

// Methods by name, as Allow lists them: every one the route table uses.
constexpr std::pair<Method, const char*> kMethodNames[] = {
    {Method::Get, "GET"},       {Method::Post, "POST"},   {Method::Put, "PUT"},
    {Method::Delete, "DELETE"}, {Method::Patch, "PATCH"},
};

QByteArray methodName(Method method) {
  for (const auto& [m, name] : kMethodNames)
    if (m == method) return name;
  return {};
}

struct FailureReply {
  int status;
  const char* error;
};

// How a capture that did not come about is answered.
FailureReply failureReply(CaptureFailure failure) {
  switch (failure) {
    case CaptureFailure::kMoving:
      return {409, "moving"};
    case CaptureFailure::kNotPolled:
      return {409, "not polled"};
    case CaptureFailure::kOffRange:
      return {422, "off range"};
    case CaptureFailure::kNotAWeight:
      return {422, "not a weight"};
    case CaptureFailure::kNoAnswer:
      return {503, "no answer"};
    case CaptureFailure::kJournal:
      return {500, "journal"};
  }
  return {500, "unknown"};
}

std::string addressText(const QString& address) {
  return address.toStdString();
}

// The index of the scale address names; -1, and 404 sent, when no scale has that address.
int scaleOrNotFound(const std::string& address, QHttpServerResponder& out) {
  const int i = scaleIndex(address);
  if (i < 0) sendError(out, 404, "not found", "no scale has the address " + address);
  return i;
}

// The dashboard's files, from the program's resources: path, resource, content type.
struct Page {
  const char* path;
  const char* resource;
  const char* type;
};
constexpr Page kPages[] = {
    {"/", ":/dashboard/index.html", "text/html; charset=utf-8"},
    {"/dashboard.css", ":/dashboard/dashboard.css", "text/css; charset=utf-8"},
    {"/dashboard.js", ":/dashboard/dashboard.js", "text/javascript; charset=utf-8"},
};

// The page loads nothing from elsewhere and talks only to this server.
const QByteArray kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

}  // namespace

struct HttpServer::Call {
  const QString& path;     // the route's
  const QString& address;  // the path's <arg>; empty where it has none
  const QHttpServerRequest& request;
  QHttpServerResponder& out;
};

struct HttpServer::Route {
  Method method;
  const char* path;
  void (*handle)(HttpServer& server, const Call& call);
};

std::span<const HttpServer::Route> HttpServer::table() {
  using S = HttpServer;
  using C = const Call&;
  static constexpr Route kRoutes[] = {
      {Method::Get, "/api/v1/scales", [](S& s, C c) { s.scales(c.out); }},
      {Method::Get, "/api/v1/scales/<arg>", [](S& s, C c) { s.scale(c.address, c.out); }},
      {Method::Post, "/api/v1/scales/<arg>/captures",
       [](S& s, C c) { s.capture(c.address, c.request, std::move(c.out)); }},
      {Method::Post, "/api/v1/scales/<arg>/commands",
       [](S& s, C c) { s.command(c.address, c.request, std::move(c.out)); }},
      {Method::Get, "/api/v1/captures", [](S& s, C c) { s.captures(c.request, c.out); }},
      {Method::Get, "/api/v1/live", [](S& s, C c) { s.live(c.request, c.out); }},
      {Method::Get, "/metrics", [](S& s, C c) { s.metrics(c.out); }},
      {Method::Get, "/healthz", [](S& s, C c) { s.healthz(c.out); }},
      {Method::Get, "/", [](S& s, C c) { s.page(c.path, c.out); }},
      {Method::Get, "/dashboard.css", [](S& s, C c) { s.page(c.path, c.out); }},
      {Method::Get, "/dashboard.js", [](S& s, C c) { s.page(c.path, c.out); }},
  };
  return kRoutes;
}

std::vector<HttpServer::RouteName> HttpServer::routes() {
  std::vector<RouteName> names;
  for (const Route& route : table())
    names.push_back({methodName(route.method), QString::fromLatin1(route.path)});
  return names;
}

struct HttpServer::PendingReply {
  std::unique_ptr<QHttpServerResponder> out;
  QPointer<QTcpSocket> socket;  // gone when the client went meanwhile

  // Once the answer is written (or will never be), the guard lets the server read the
  // connection's next request.
  ~PendingReply() {
    out.reset();
    if (auto* guarded = qobject_cast<GuardedSocket*>(socket.data())) guarded->setAwaiting(false);
  }
};

HttpServer::HttpServer(const HttpSettings& settings, const HttpSources& sources, HttpLimits limits,
                       QObject* parent)
    : QObject(parent),
      settings_(settings),
      sources_(sources),
      limits_(limits),
      server_(std::make_unique<QHttpServer>()) {
  keepQtServerDebugOff();  // Qt's debug output would show the token
  for (const Page& page : kPages) {
    QFile file(QString::fromLatin1(page.resource));
    if (file.open(QIODevice::ReadOnly)) pages_[QString::fromLatin1(page.path)] = file.readAll();
  }
  FeedOptions options;
  options.maxClients = limits_.maxDashboards;
  options.batchMs = limits_.feedBatchMs;
  options.linkMs = limits_.feedLinkMs;
  options.writes = !settings_.token.empty() && sources_.captures != nullptr;
  options.commands = !settings_.token.empty() && settings_.commands && sources_.commands;
  options.health = [this] { return healthProblem(); };
  feed_ = std::make_unique<LiveFeed>(sources_, options);
  connect(server_.get(), &QAbstractHttpServer::newWebSocketConnection, this, [this] {
    while (server_->hasPendingWebSocketConnections()) {
      std::unique_ptr<QWebSocket> socket = server_->nextPendingWebSocketConnection();
      if (socket == nullptr) break;
      if (socket->requestUrl().path() != kLivePath) {
        socket->abort();  // an upgrade asked of another resource
        socket.release()->deleteLater();
      } else if (!socket->origin().isEmpty() && !names_.acceptsOrigin(socket->origin())) {
        // A page of another site in the operator's browser reads nothing. A client that names no
        // origin is no page in a browser and is let in, as for every read.
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                      QStringLiteral("the live feed is for pages of this server"));
        socket.release()->deleteLater();
      } else {
        QTcpSocket* connection = connectionOf(*socket);
        feed_->add(std::move(socket), connection);
      }
    }
  });
  addRoutes();
}

HttpServer::~HttpServer() {
  // The feed's WebSockets hold sockets of the guards: they go first.
  feed_.reset();
  pending_.clear();
  reads_.clear();
  commands_.clear();
  server_.reset();
}

QTcpSocket* HttpServer::connectionOf(const QWebSocket& socket) const {
  // Qt keeps the connection to itself: it is the guard's socket between the same two ends.
  for (const QPointer<ConnectionGuard>& guard : guards_) {
    if (!guard) continue;
    for (GuardedSocket* c : guard->findChildren<GuardedSocket*>())
      if (c->peerPort() == socket.peerPort() && c->localPort() == socket.localPort() &&
          c->peerAddress() == socket.peerAddress())
        return c;
  }
  return nullptr;
}

int HttpServer::connections() const {
  int n = 0;
  for (const QPointer<ConnectionGuard>& guard : guards_)
    if (guard) n += guard->connections();
  return n;
}

qint64 HttpServer::unsentBytes() const {
  qint64 n = 0;
  for (const QPointer<ConnectionGuard>& guard : guards_)
    if (guard) n += guard->unsentBytes();
  return n;
}

int HttpServer::dashboards() const {
  return feed_ ? feed_->clients() : 0;
}

std::string HttpServer::start() {
  const auto open = [this](const QHostAddress& address, quint16 port, std::string* why) {
    auto guard = std::make_unique<ConnectionGuard>(limits_.guard);
    if (guard->listen(address, port)) return guard;
    *why = guard->errorString().toStdString();
    return std::unique_ptr<ConnectionGuard>();
  };
  const auto listening = [this](std::vector<std::unique_ptr<ConnectionGuard>> guards,
                                const QList<QHostAddress>& addresses, quint16 port) {
    for (std::unique_ptr<ConnectionGuard>& guard : guards) {
      guards_.emplace_back(guard.get());
      server_->bind(guard.release());  // the HTTP server owns it
    }
    listening_ = addresses;
    port_ = port;
    std::vector<std::string> names = settings_.hosts;
    if (!bindLiteral(settings_.bind)) names.push_back(settings_.bind);
    names_ = ServedNames(addresses, names, port);
  };
  return listenWhereBound<ConnectionGuard>({"http", "HTTP", settings_.bind, settings_.port}, this,
                                           sources_.toolkit, open, listening);
}

void HttpServer::addRoutes() {
  using Request = const QHttpServerRequest&;
  QHttpServer& s = *server_;
  const ServedNames* names = &names_;
  std::vector<QString> paths;  // each once, in the table's order (Qt tries them in turn)
  for (const Route& route : table())
    if (std::find(paths.begin(), paths.end(), route.path) == paths.end())
      paths.emplace_back(QString::fromLatin1(route.path));
  for (const QString& path : paths) {
    if (path.contains(QStringLiteral("<arg>")))
      s.route<ServedRule>(path, names, [this, path](const QString& a, Request r, Responder&& out) {
        serve(path, a, r, out);
      });
    else
      s.route<ServedRule>(path, names,
                          [this, path](Request r, Responder&& out) { serve(path, {}, r, out); });
  }
  s.setMissingHandler([this](Request r, Responder&& out) {
    if (const std::optional<Refusal> refused = refusalOf(names_, r))
      sendError(out, refused->status, refused->error, refused->message);
    else if (admitted(r, out))
      sendError(out, 404, "not found", "there is no such resource");
  });
}

void HttpServer::serve(const QString& path, const QString& address,
                       const QHttpServerRequest& request, Responder& out) {
  if (!admitted(request, out)) return;
  QByteArray allowed;
  for (const Route& route : table()) {
    if (path != QLatin1String(route.path)) continue;
    if (route.method == request.method()) return route.handle(*this, {path, address, request, out});
    allowed += (allowed.isEmpty() ? "" : ", ") + methodName(route.method);
  }
  sendError(out, 405, "method not allowed", "this resource takes " + allowed.toStdString(),
            {{"Allow", allowed}});
}

void HttpServer::page(const QString& path, Responder& out) {
  const auto it = pages_.find(path);
  if (it == pages_.end()) {
    sendError(out, 404, "not found", "the dashboard is not built into this program");
    return;
  }
  for (const Page& page : kPages)
    if (path == QLatin1String(page.path))
      send(out, 200, page.type, it->second,
           {{"Content-Security-Policy", kPagePolicy}, {"Referrer-Policy", "no-referrer"}});
}

int64_t HttpServer::shownAt(const ScaleSnapshot& scale) {
  return scale.shownAtMs != 0 ? scale.shownAtMs : sources_.toolkit.wallMs();
}

void HttpServer::scales(Responder& out) {
  const PlantSnapshot s = sources_.board.read();
  QByteArray body = "[";
  for (int i = 0; i < kMaxScales; ++i) {
    const ScaleSnapshot& scale = s.scales[i];
    if (!scale.polled) continue;
    if (body.size() > 1) body += ',';
    body += weightMessage(scaleAddress(i), scale.view, s.unitFlag, shownAt(scale));
  }
  send(out, 200, kJson, body + "]");
}

void HttpServer::scale(const QString& address, Responder& out) {
  const int i = scaleOrNotFound(addressText(address), out);
  if (i < 0) return;
  const PlantSnapshot s = sources_.board.read();
  const ScaleSnapshot& scale = s.scales[i];
  if (!scale.polled) {
    sendError(out, 404, "not found", "scale " + addressText(address) + " is not polled");
    return;
  }
  send(out, 200, kJson,
       QByteArray::fromStdString(
           weightMessage(scaleAddress(i), scale.view, s.unitFlag, shownAt(scale))));
}

bool HttpServer::admitted(const QHttpServerRequest& request, Responder& out) {
  auto* guarded = qobject_cast<GuardedSocket*>(out.socket());
  if (guarded == nullptr || !guarded->onTrial()) return true;
  const QByteArray authorization = request.value("authorization");
  if (!settings_.token.empty() &&
      bearerMatches(std::string_view(authorization.constData(),
                                     static_cast<std::size_t>(authorization.size())),
                    settings_.token)) {
    guarded->trust();
    return true;
  }
  guarded->closeAfterAnswer();
  sendError(out, 503, "busy", "the server is full; try again",
            {{"Retry-After", "1"}, {"Connection", "close"}});
  return false;
}

bool HttpServer::mayWrite(const QHttpServerRequest& request, Responder& out) {
  if (settings_.token.empty()) {
    sendError(out, 503, "writes off",
              "TRV4NET.INI sets no token in [http]: captures and commands by HTTP are off");
    return false;
  }
  const QByteArray authorization = request.value("authorization");
  if (!bearerMatches(std::string_view(authorization.constData(),
                                      static_cast<std::size_t>(authorization.size())),
                     settings_.token)) {
    sendError(out, 401, "unauthorized", "", {{"WWW-Authenticate", "Bearer"}});
    return false;
  }
  return true;
}

void HttpServer::capture(const QString& address, const QHttpServerRequest& request,
                         Responder&& out) {
  if (!mayWrite(request, out)) return;
  if (sources_.captures == nullptr) {
    sendError(out, 503, "captures off", "this program keeps no captures");
    return;
  }
  const int i = scaleOrNotFound(addressText(address), out);
  if (i < 0) return;
  std::string why;
  const std::optional<CaptureParams> params = captureParams(request.query(), request.body(), &why);
  if (!params) {
    sendError(out, 400, "bad request", why);
    return;
  }
  if (pending_.size() >= static_cast<std::size_t>(limits_.maxPendingCaptures)) {
    sendError(out, 503, "busy", "too many captures are waiting; try again", {{"Retry-After", "1"}});
    return;
  }
  const uint64_t id = hold(std::move(out), &pending_);
  CaptureRequest asked;
  asked.scale = i;
  asked.stableAnswers = params->stableAnswers;
  asked.timeoutMs = params->timeoutMs;
  asked.requestedBy = "http";
  sources_.captures->capture(asked,
                             [self = QPointer<HttpServer>(this), id](const CaptureOutcome& o) {
                               if (self) self->captureDone(id, o);
                             });
}

uint64_t HttpServer::hold(Responder&& out, Pending* pending) {
  QTcpSocket* socket = out.socket();
  if (auto* guarded = qobject_cast<GuardedSocket*>(socket)) guarded->setAwaiting(true);
  const uint64_t id = ++nextPending_;
  auto reply = std::make_unique<PendingReply>();
  reply->out = std::make_unique<QHttpServerResponder>(std::move(out));
  reply->socket = socket;
  pending->emplace(id, std::move(reply));
  return id;
}

std::unique_ptr<HttpServer::PendingReply> HttpServer::release(uint64_t id, Pending* from) {
  const auto it = from->find(id);
  if (it == from->end()) return nullptr;
  std::unique_ptr<PendingReply> pending = std::move(it->second);
  from->erase(it);
  QTcpSocket* socket = pending->socket;
  if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState) return nullptr;
  return pending;
}

void HttpServer::captureDone(uint64_t id, const CaptureOutcome& outcome) {
  const std::unique_ptr<PendingReply> pending = release(id, &pending_);
  if (pending == nullptr) return;
  if (outcome.capture) {
    send(*pending->out, 201, kJson, compact(apiCaptureJson(*outcome.capture)));
  } else {
    const FailureReply reply = failureReply(outcome.failure);
    sendError(*pending->out, reply.status, reply.error, outcome.message);
  }
}

void HttpServer::captures(const QHttpServerRequest& request, Responder& out) {
  if (sources_.captures == nullptr) {
    sendError(out, 503, "captures off", "this program keeps no captures");
    return;
  }
  std::string why;
  const std::optional<CapturePage> page = capturePage(request.query(), &why);
  if (!page) {
    sendError(out, 400, "bad request", why);
    return;
  }
  // The journal is read on its own side; the answer is sent when the rows come.
  if (reads_.size() >= kCaptureReadsMax) {
    sendError(out, 503, "busy", "too many reads of the journal are waiting; try again",
              {{"Retry-After", "1"}});
    return;
  }
  const uint64_t id = hold(std::move(out), &reads_);
  sources_.captures->readAfter(
      page->after, page->limit,
      [self = QPointer<HttpServer>(this), id, after = page->after](std::vector<Capture> rows) {
        if (self) self->capturesRead(id, after, rows);
      });
}

void HttpServer::capturesRead(uint64_t id, uint64_t after, const std::vector<Capture>& rows) {
  const std::unique_ptr<PendingReply> pending = release(id, &reads_);
  if (pending == nullptr) return;
  QJsonArray list;
  uint64_t last = after;
  for (const Capture& c : rows) {
    list.append(apiCaptureJson(c));
    last = c.sequence;
  }
  QJsonObject o;
  o["captures"] = list;
  o["last"] = static_cast<qint64>(last);
  send(*pending->out, 200, kJson, compact(o));
}

void HttpServer::command(const QString& address, const QHttpServerRequest& request,
                         Responder&& out) {
  if (settings_.token.empty()) {
    sendError(out, 503, "commands off", "commands are off: TRV4NET.INI sets no token in [http]");
    return;
  }
  if (!mayWrite(request, out)) return;
  if (!settings_.commands || sources_.commands == nullptr) {
    sendError(out, 503, "commands off",
              settings_.commands ? "commands are off: this program takes no commands by HTTP"
                                 : "commands are off: TRV4NET.INI has commands=false in [http]");
    return;
  }
  const std::string a = addressText(address);
  const int i = a == "@" ? -1 : scaleOrNotFound(a, out);
  if (i < 0 && a != "@") return;
  std::string why;
  const std::optional<char> c = commandParam(request.query(), request.body(), &why);
  if (!c) {
    sendError(out, 400, "bad request", why);
    return;
  }
  const uint64_t id = hold(std::move(out), &commands_);
  const char command = *c;
  sources_.commands->queue(i, command,
                           [self = QPointer<HttpServer>(this), id, a,
                            command](const std::optional<std::string>& refused) {
                             if (self) self->commandDone(id, a, command, refused);
                           });
}

void HttpServer::commandDone(uint64_t id, const std::string& address, char command,
                             const std::optional<std::string>& refused) {
  const std::unique_ptr<PendingReply> pending = release(id, &commands_);
  if (pending == nullptr) return;
  if (refused) {
    sendError(*pending->out, 409, "refused", *refused);
    return;
  }
  QJsonObject o;
  o["address"] = QString::fromStdString(address);
  o["command"] = QString(QChar::fromLatin1(command));
  o["queued"] = true;
  send(*pending->out, 202, kJson, compact(o));
}

void HttpServer::metrics(Responder& out) {
  MetricsExtras extras;
  if (sources_.captures != nullptr)
    extras.capturesWaiting = sources_.captures->waitingForDelivery();
  extras.httpConnections = connections();
  extras.dashboards = dashboards();
  send(out, 200, "text/plain; version=0.0.4; charset=utf-8",
       QByteArray::fromStdString(metricsText(sources_.board.read(), extras)));
}

std::string HttpServer::healthProblem() const {
  const PlantSnapshot s = sources_.board.read();
  PollingView v;
  v.portOpen = s.portOpen;
  v.suspended = s.suspended;
  v.anyPolled = s.anyPolled();
  v.sinceSentMs = s.linkNowMs() - s.lastSentAtMs;
  return pollingProblem(v);
}

void HttpServer::healthz(Responder& out) {
  const std::string problem = healthProblem();
  QJsonObject o;
  o["status"] = problem.empty() ? "ok" : "unavailable";
  if (!problem.empty()) o["reason"] = QString::fromStdString(problem);
  send(out, problem.empty() ? 200 : 503, kJson, compact(o));
}

void HttpServer::live(const QHttpServerRequest& request, Responder& out) {
  if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) != 0) {
    sendError(out, 426, "upgrade required", "the live feed is a WebSocket",
              {{"Upgrade", "websocket"}});
    return;
  }
  // Nothing is written: once this returns, Qt hands the connection to its WebSocket server.
  if (auto* guarded = qobject_cast<GuardedSocket*>(out.socket())) guarded->setUpgraded();
}

std::unique_ptr<HttpServer> startHttpServer(const HttpSettings& settings,
                                            const HttpSources& sources) {
  if (!settings.enabled) return nullptr;
  auto server = std::make_unique<HttpServer>(settings, sources);
  if (const std::string why = server->start(); !why.empty()) {
    sources.toolkit.messageBox(why);
    return nullptr;
  }
  return server;
}

}  // namespace trv4
