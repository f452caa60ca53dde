#include "http/http_server.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonObject>
#include <QWebSocket>

#include "http/api_json.h"
#include "http/bearer_token.h"
#include "http/live_feed.h"
#include "http/metrics_text.h"
#include "http/request_params.h"
#include "net/bind_address.h"
#include "net/weight_message.h"

namespace trv4 {

namespace {

// Whether a WebSocket comes from a page this server served: a browser names the page's origin,
// which must be the host and port the socket was opened on. A client that names no origin is no
// page in a browser and is let in, as for every read.
bool fromThisServer(const QWebSocket& socket) {
  if (socket.origin().isEmpty()) return true;
  const QUrl origin(socket.origin());
  const QUrl opened = socket.requestUrl();
  const auto port = [](const QUrl& u) {
    return u.port(u.scheme() == QLatin1String("https") || u.scheme() == QLatin1String("wss") ? 443
                                                                                             : 80);
  };
  return origin.host().compare(opened.host(), Qt::CaseInsensitive) == 0 &&
         !origin.host().isEmpty() && port(origin) == port(opened);
}

using Method = QHttpServerRequest::Method;
using StatusCode = QHttpServerResponder::StatusCode;
using Header = std::pair<QByteArray, QByteArray>;

const QByteArray kJson = "application/json";

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

// False, and 405 sent, when the request's method is not the one the path takes.
bool isMethod(const QHttpServerRequest& request, Method method, QHttpServerResponder& out) {
  if (request.method() == method) return true;
  const QByteArray allowed = method == Method::Get ? "GET" : "POST";
  sendError(out, 405, "method not allowed", "this resource takes " + allowed.toStdString(),
            {{"Allow", allowed}});
  return false;
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

struct HttpServer::PendingCapture {
  std::unique_ptr<QHttpServerResponder> out;
  QPointer<QTcpSocket> socket;  // gone when the client went meanwhile
};

HttpServer::HttpServer(const HttpSettings& settings, const HttpSources& sources, HttpLimits limits,
                       QObject* parent)
    : QObject(parent),
      settings_(settings),
      sources_(sources),
      limits_(limits),
      server_(std::make_unique<QHttpServer>()),
      sentClock_(sources.toolkit) {
  if (sources_.link != nullptr) sources_.link->addObserver(sentClock_);
  shownListener_ =
      sources_.monitor.addShownListener([this](int i) { shownAt_[i] = sources_.toolkit.wallMs(); });
  for (const Page& page : kPages) {
    QFile file(QString::fromLatin1(page.resource));
    if (file.open(QIODevice::ReadOnly)) pages_[QString::fromLatin1(page.path)] = file.readAll();
  }
  FeedOptions options;
  options.maxClients = limits_.maxDashboards;
  options.batchMs = limits_.feedBatchMs;
  options.writes = !settings_.token.empty() && sources_.captures != nullptr;
  options.commands = !settings_.token.empty() && settings_.commands && sources_.commands;
  options.health = [this] { return healthProblem(); };
  feed_ = std::make_unique<LiveFeed>(sources_, options);
  connect(server_.get(), &QAbstractHttpServer::newWebSocketConnection, this, [this] {
    while (server_->hasPendingWebSocketConnections()) {
      std::unique_ptr<QWebSocket> socket = server_->nextPendingWebSocketConnection();
      if (socket == nullptr) break;
      if (socket->requestUrl().path() != QLatin1String("/api/v1/live")) {
        socket->abort();  // an upgrade asked of another resource
        socket.release()->deleteLater();
      } else if (!fromThisServer(*socket)) {
        // A page of another site in the operator's browser: it reads nothing.
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                      QStringLiteral("the live feed is for pages of this server"));
        socket.release()->deleteLater();
      } else {
        feed_->add(std::move(socket));
      }
    }
  });
  addRoutes();
}

HttpServer::~HttpServer() {
  // The feed's WebSockets hold sockets of the guards: they go first.
  feed_.reset();
  pending_.clear();
  server_.reset();
  sources_.monitor.removeShownListener(shownListener_);
  if (sources_.link != nullptr) sources_.link->removeObserver(sentClock_);
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
  const std::string& bind = settings_.bind;
  if (bind.empty()) return "TRV4NET.INI: \"bind\" in [http] is empty; the HTTP server stays off.";
  if (const std::optional<QHostAddress> address = bindLiteral(bind)) return listen({*address});
  lookUpBind(bind, this, [this, bind](const BindAddresses& found) {
    const std::string why =
        found.addresses.isEmpty()
            ? "TRV4NET.INI: \"bind\" in [http] is " + bind +
                  ", which is no address and no host name this PC can look up (" + found.why +
                  "); the HTTP server stays off."
            : listen(found.addresses);
    if (!why.empty()) sources_.toolkit.messageBox(why);
  });
  return {};
}

std::string HttpServer::listen(const QList<QHostAddress>& addresses) {
  auto port = static_cast<quint16>(settings_.port);
  std::vector<std::unique_ptr<ConnectionGuard>> made;
  for (const QHostAddress& address : addresses) {
    auto guard = std::make_unique<ConnectionGuard>(limits_.guard);
    if (!guard->listen(address, port)) {
      std::string why = "The HTTP server can not listen on " + address.toString().toStdString() +
                        " port " + std::to_string(port);
      if (address.toString().toStdString() != settings_.bind)
        why += " (bind=" + settings_.bind + ")";
      return why + ": " + guard->errorString().toStdString() + "; it stays off.";
    }
    port = guard->serverPort();  // port 0 takes one; every address then takes the same
    made.push_back(std::move(guard));
  }
  for (std::unique_ptr<ConnectionGuard>& guard : made) {
    guards_.emplace_back(guard.get());
    server_->bind(guard.release());  // the HTTP server owns it
  }
  listening_ = addresses;
  port_ = port;
  return {};
}

void HttpServer::addRoutes() {
  using Request = const QHttpServerRequest&;
  QHttpServer& s = *server_;
  s.route("/api/v1/scales", [this](Request r, Responder&& out) {
    if (admitted(r, out) && isMethod(r, Method::Get, out)) scales(r, out);
  });
  s.route("/api/v1/scales/<arg>", [this](const QString& a, Request r, Responder&& out) {
    if (admitted(r, out) && isMethod(r, Method::Get, out)) scale(a, r, out);
  });
  s.route("/api/v1/scales/<arg>/captures", [this](const QString& a, Request r, Responder&& out) {
    if (admitted(r, out) && isMethod(r, Method::Post, out)) capture(a, r, std::move(out));
  });
  s.route("/api/v1/scales/<arg>/commands", [this](const QString& a, Request r, Responder&& out) {
    if (admitted(r, out) && isMethod(r, Method::Post, out)) command(a, r, out);
  });
  s.route("/api/v1/captures", [this](Request r, Responder&& out) {
    if (admitted(r, out) && isMethod(r, Method::Get, out)) captures(r, out);
  });
  s.route("/api/v1/live", [this](Request r, Responder&& out) {
    if (admitted(r, out) && isMethod(r, Method::Get, out)) live(r, out);
  });
  s.route("/metrics", [this](Request r, Responder&& out) {
    if (admitted(r, out) && isMethod(r, Method::Get, out)) metrics(out);
  });
  s.route("/healthz", [this](Request r, Responder&& out) {
    if (admitted(r, out) && isMethod(r, Method::Get, out)) healthz(out);
  });
  for (const Page& page : kPages) {
    const QString path = QString::fromLatin1(page.path);
    const QByteArray type = page.type;
    s.route(path, [this, path, type](Request r, Responder&& out) {
      if (!admitted(r, out) || !isMethod(r, Method::Get, out)) return;
      const auto it = pages_.find(path);
      if (it == pages_.end()) {
        sendError(out, 404, "not found", "the dashboard is not built into this program");
        return;
      }
      send(out, 200, type, it->second,
           {{"Content-Security-Policy", kPagePolicy}, {"Referrer-Policy", "no-referrer"}});
    });
  }
  s.setMissingHandler([this](Request r, Responder&& out) {
    if (admitted(r, out)) sendError(out, 404, "not found", "there is no such resource");
  });
}

int64_t HttpServer::shownAt(int scale) {
  return shownAt_[scale] != 0 ? shownAt_[scale] : sources_.toolkit.wallMs();
}

void HttpServer::scales(const QHttpServerRequest&, Responder& out) {
  QByteArray body = "[";
  for (int i = 0; i < kMaxScales; ++i) {
    if (sources_.state.ScanList[i] != 1) continue;
    if (body.size() > 1) body += ',';
    body += weightMessage(scaleAddress(i), sources_.monitor.panel(i).view, sources_.state.UnitFlag,
                          shownAt(i));
  }
  send(out, 200, kJson, body + "]");
}

void HttpServer::scale(const QString& address, const QHttpServerRequest&, Responder& out) {
  const int i = scaleIndex(addressText(address));
  if (i < 0) {
    sendError(out, 404, "not found", "no scale has the address " + addressText(address));
    return;
  }
  if (sources_.state.ScanList[i] != 1) {
    sendError(out, 404, "not found", "scale " + addressText(address) + " is not polled");
    return;
  }
  send(out, 200, kJson,
       QByteArray::fromStdString(weightMessage(scaleAddress(i), sources_.monitor.panel(i).view,
                                               sources_.state.UnitFlag, shownAt(i))));
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
  const int i = scaleIndex(addressText(address));
  if (i < 0) {
    sendError(out, 404, "not found", "no scale has the address " + addressText(address));
    return;
  }
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
  QTcpSocket* socket = out.socket();
  if (auto* guarded = qobject_cast<GuardedSocket*>(socket)) guarded->setAwaiting(true);
  const uint64_t id = ++nextCapture_;
  pending_.emplace(id, std::make_unique<PendingCapture>(PendingCapture{
                           std::make_unique<QHttpServerResponder>(std::move(out)), socket}));
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

void HttpServer::captureDone(uint64_t id, const CaptureOutcome& outcome) {
  const auto it = pending_.find(id);
  if (it == pending_.end()) return;
  const std::unique_ptr<PendingCapture> pending = std::move(it->second);
  pending_.erase(it);
  QTcpSocket* socket = pending->socket;
  if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState) return;
  if (outcome.capture) {
    send(*pending->out, 201, kJson, compact(apiCaptureJson(*outcome.capture)));
  } else {
    const FailureReply reply = failureReply(outcome.failure);
    sendError(*pending->out, reply.status, reply.error, outcome.message);
  }
  // Written: the guard lets the server read the connection's next request.
  if (auto* guarded = qobject_cast<GuardedSocket*>(socket)) guarded->setAwaiting(false);
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
  QJsonArray list;
  uint64_t last = page->after;
  for (const Capture& c : sources_.captures->after(page->after, page->limit)) {
    list.append(apiCaptureJson(c));
    last = c.sequence;
  }
  QJsonObject o;
  o["captures"] = list;
  o["last"] = static_cast<qint64>(last);
  send(out, 200, kJson, compact(o));
}

void HttpServer::command(const QString& address, const QHttpServerRequest& request,
                         Responder& out) {
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
  const int i = a == "@" ? -1 : scaleIndex(a);
  if (i < 0 && a != "@") {
    sendError(out, 404, "not found", "no scale has the address " + a);
    return;
  }
  std::string why;
  const std::optional<char> c = commandParam(request.query(), request.body(), &why);
  if (!c) {
    sendError(out, 400, "bad request", why);
    return;
  }
  if (const std::optional<std::string> refused = sources_.commands->queue(i, *c)) {
    sendError(out, 409, "refused", *refused);
    return;
  }
  QJsonObject o;
  o["address"] = QString::fromStdString(a);
  o["command"] = QString(QChar::fromLatin1(*c));
  o["queued"] = true;
  send(out, 202, kJson, compact(o));
}

void HttpServer::metrics(Responder& out) {
  MetricsExtras extras;
  extras.portOpen = sources_.port.portOpen();
  if (sources_.mqttConnected) extras.mqttConnected = sources_.mqttConnected();
  if (sources_.captures != nullptr)
    extras.capturesWaiting = sources_.captures->waitingForDelivery();
  extras.httpConnections = connections();
  extras.dashboards = dashboards();
  send(out, 200, "text/plain; version=0.0.4; charset=utf-8",
       QByteArray::fromStdString(
           metricsText(sources_.monitor, sources_.state, sources_.stats, extras)));
}

std::string HttpServer::healthProblem() const {
  PollingView v;
  v.portOpen = sources_.port.portOpen();
  v.suspended = sources_.link != nullptr && sources_.link->suspended();
  v.anyPolled = sources_.state.SingleScaleMode != 0;
  for (int i = 0; i < kMaxScales; ++i) v.anyPolled = v.anyPolled || sources_.state.ScanList[i] == 1;
  v.sinceSentMs = sentClock_.sinceSentMs();
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
