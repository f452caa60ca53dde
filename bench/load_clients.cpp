#include "bench/load_clients.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

namespace trv4::bench {
namespace {

using Sockets = std::vector<std::unique_ptr<QTcpSocket>>;

template <typename... Args>
std::string said(const char* format, Args... args) {
  char text[512];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// Runs the event loop for at most `seconds`, ending early once more() turns false.
void runWhile(double seconds, const std::function<bool()>& more = {}) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  QTimer check;
  if (more) {
    QObject::connect(&check, &QTimer::timeout, [&] {
      if (!more()) loop.quit();
    });
    check.start(20);
  }
  loop.exec();
}

QByteArray getRequest(const QByteArray& path, quint16 port) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n";
}

void open(QTcpSocket* socket, quint16 port) {
  socket->connectToHost(QHostAddress::LocalHost, port);
}

// A socket that takes at most one byte from the kernel, so that what the server sends piles up
// behind it, as behind a client that never reads.
std::unique_ptr<QTcpSocket> nonReading() {
  auto socket = std::make_unique<QTcpSocket>();
  socket->setReadBufferSize(1);
  return socket;
}

int connectedCount(const Sockets& sockets) {
  int n = 0;
  for (const auto& s : sockets) n += s->state() == QAbstractSocket::ConnectedState;
  return n;
}

// Counts the status lines of the answers a connection reads, by status.
void tallyStatuses(QTcpSocket* socket, std::map<int, long>* statuses) {
  QObject::connect(socket, &QTcpSocket::readyRead, [socket, statuses] {
    const QByteArray got = socket->readAll();
    for (qsizetype at = got.indexOf("HTTP/1.1 "); at >= 0; at = got.indexOf("HTTP/1.1 ", at + 1))
      ++(*statuses)[got.mid(at + 9, 3).toInt()];
  });
}

std::string statusText(const std::map<int, long>& statuses) {
  std::string text;
  for (const auto& [status, count] : statuses) text += said(" %d x%ld", status, count);
  return text.empty() ? " none" : text;
}

// HTTP connections whose answers are tallied by status, each writing `first` (when given) once
// connected.
struct HttpConnections {
  HttpConnections(const LoadTarget& t, int count, const QByteArray& first) : port(t.httpPort) {
    for (int i = 0; i < count; ++i) {
      sockets.push_back(std::make_unique<QTcpSocket>());
      QTcpSocket* s = sockets.back().get();
      if (!first.isEmpty())
        QObject::connect(s, &QTcpSocket::connected, [s, first] { s->write(first); });
      tallyStatuses(s, &statuses);
      open(s, port);
    }
  }
  // Opens again one the server closed; false when it is not closed.
  bool reopenIfClosed(QTcpSocket& s) {
    if (s.state() != QAbstractSocket::UnconnectedState) return false;
    ++reopened;
    open(&s, port);
    return true;
  }

  quint16 port;
  Sockets sockets;
  std::map<int, long> statuses;
  long reopened = 0;
};

// Each connection writes 27 kB of GET /api/v1/captures?limit=1000, one request every 10 ms (the
// server takes one request a read) and never reads an answer.
std::string pipelined(const LoadTarget& t, int connections) {
  const QByteArray one = getRequest("/api/v1/captures?limit=1000", t.httpPort);
  const int requests = 27 * 1024 / static_cast<int>(one.size());
  Sockets sockets;
  for (int i = 0; i < connections; ++i) {
    sockets.push_back(nonReading());
    open(sockets.back().get(), t.httpPort);
  }
  int written = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (written == requests) return;
    ++written;
    for (auto& s : sockets)
      if (s->state() == QAbstractSocket::ConnectedState) s->write(one);
  });
  tick.start(10);
  runWhile(t.seconds);
  qint64 unsent = 0;
  for (const auto& s : sockets) unsent += s->bytesToWrite();
  return said(
      "%d connections wrote %d requests (%lld bytes) each and read none; %d still connected "
      "at the end, %lld bytes not taken by the server",
      connections, written, static_cast<long long>(written * one.size()), connectedCount(sockets),
      static_cast<long long>(unsent));
}

std::string readers(const LoadTarget& t, int count) {
  const QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/captures?limit=1000").arg(t.httpPort));
  long answers = 0, failed = 0;
  long long bytes = 0;
  bool over = false;
  std::function<void(QNetworkAccessManager*)> ask = [&](QNetworkAccessManager* nam) {
    QNetworkReply* reply = nam->get(QNetworkRequest(url));
    QObject::connect(reply, &QNetworkReply::finished, [&, reply, nam] {
      reply->deleteLater();
      if (over) return;
      const QByteArray body = reply->readAll();
      if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
        ++answers;
        bytes += body.size();
      } else {
        ++failed;
      }
      ask(nam);
    });
  };
  std::vector<std::unique_ptr<QNetworkAccessManager>> readers;
  for (int i = 0; i < count; ++i) {
    readers.push_back(std::make_unique<QNetworkAccessManager>());
    ask(readers.back().get());
  }
  runWhile(t.seconds);
  over = true;
  for (auto& nam : readers)
    for (QNetworkReply* reply : nam->findChildren<QNetworkReply*>()) reply->abort();
  return said("%d readers: %ld answers of 200 (%.1f MB), %ld others", count, answers,
              static_cast<double>(bytes) / 1e6, failed);
}

std::string modbusFlood(const LoadTarget& t) {
  constexpr qsizetype kBytes = 4 * 1024 * 1024;
  QByteArray frames;
  frames.reserve(kBytes);
  // Read input registers (4), 125 from register 0: transaction, protocol 0, length 6, unit 1.
  for (quint16 id = 0; frames.size() + 12 <= kBytes; ++id) {
    const char frame[12] = {
        static_cast<char>(id >> 8), static_cast<char>(id & 0xff), 0, 0, 0, 6, 1, 4, 0, 0, 0, 125};
    frames.append(frame, sizeof frame);
  }
  auto socket = nonReading();
  QElapsedTimer clock;
  double writtenAfter = -1;
  QObject::connect(socket.get(), &QTcpSocket::connected, [&] {
    clock.start();
    socket->write(frames);
  });
  QObject::connect(socket.get(), &QTcpSocket::bytesWritten, [&] {
    if (socket->bytesToWrite() == 0 && writtenAfter < 0)
      writtenAfter = static_cast<double>(clock.elapsed()) / 1000;
  });
  open(socket.get(), t.modbusPort);
  runWhile(t.seconds);
  const qint64 unsent = socket->bytesToWrite();
  return said("one client wrote %lld requests (%.1f MB) and read none; %s",
              static_cast<long long>(frames.size() / 12), static_cast<double>(frames.size()) / 1e6,
              writtenAfter >= 0
                  ? said("all taken by the server after %.2f s", writtenAfter).c_str()
                  : said("%lld bytes never taken", static_cast<long long>(unsent)).c_str());
}

std::string modbusIdle(const LoadTarget& t, int count) {
  Sockets sockets;
  int everConnected = 0, closedByServer = 0;
  for (int i = 0; i < count; ++i) {
    sockets.push_back(std::make_unique<QTcpSocket>());
    QObject::connect(sockets.back().get(), &QTcpSocket::connected, [&] { ++everConnected; });
    QObject::connect(sockets.back().get(), &QTcpSocket::disconnected, [&] { ++closedByServer; });
    open(sockets.back().get(), t.modbusPort);
  }
  runWhile(t.seconds);
  const int connected = connectedCount(sockets);
  for (auto& s : sockets) s->disconnect();
  return said(
      "%d opened, %d connected, %d of them still connected at the end (%d closed by the "
      "server), then all closed",
      count, everConnected, connected, closedByServer);
}

// Each connection asks GET /healthz every `everyMs` and reads its answers; one the server closed
// is opened again within a second.
std::string keepAlive(const LoadTarget& t, int count, int everyMs) {
  const QByteArray request = getRequest("/healthz", t.httpPort);
  HttpConnections c(t, count, request);
  QElapsedTimer sinceAsked;
  sinceAsked.start();
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const bool ask = sinceAsked.elapsed() >= everyMs;
    if (ask) sinceAsked.start();
    for (auto& s : c.sockets)
      if (!c.reopenIfClosed(*s) && s->state() == QAbstractSocket::ConnectedState && ask)
        s->write(request);
  });
  tick.start(1000);
  runWhile(t.seconds);
  return said("%d keep-alive connections, GET /healthz every %d ms; answers:%s; %ld reopened",
              count, everyMs, statusText(c.statuses).c_str(), c.reopened);
}

std::string idle(const LoadTarget& t, int count) {
  HttpConnections c(t, count, {});
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    for (auto& s : c.sockets) c.reopenIfClosed(*s);
  });
  tick.start(1000);
  runWhile(t.seconds);
  return said(
      "%d connections that send nothing (closed ones reopened every second): %d connected "
      "at the end, %ld reopened; answers:%s",
      count, connectedCount(c.sockets), c.reopened, statusText(c.statuses).c_str());
}

std::string slowLoris(const LoadTarget& t, int count) {
  const QByteArray head =
      "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(t.httpPort) + "\r\n";
  HttpConnections c(t, count, head);
  int line = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    ++line;
    for (auto& s : c.sockets)
      if (!c.reopenIfClosed(*s) && s->state() == QAbstractSocket::ConnectedState)
        s->write("X-Slow-" + QByteArray::number(line) + ": 1\r\n");
  });
  tick.start(2000);
  runWhile(t.seconds);
  return said(
      "%d connections, one header line every 2 s and never the end of the head: %d "
      "connected at the end, %ld reopened; answers:%s",
      count, connectedCount(c.sockets), c.reopened, statusText(c.statuses).c_str());
}

std::string pingFlood(const LoadTarget& t, int count) {
  constexpr qint64 kPingBytesEach = 8 * 1024 * 1024;
  QByteArray key(16, 0);
  for (char& c : key) c = static_cast<char>(QRandomGenerator::global()->bounded(256));
  const QByteArray handshake =
      "GET /api/v1/live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(t.httpPort) +
      "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: " +
      key.toBase64() + "\r\nSec-WebSocket-Version: 13\r\n\r\n";
  // Ping frames from a client: FIN + ping, masked, 125 bytes (the most a control frame holds).
  const char mask[4] = {0x12, 0x34, 0x56, 0x78};
  QByteArray ping;
  ping.append(static_cast<char>(0x89)).append(static_cast<char>(0x80 | 125)).append(mask, 4);
  for (int i = 0; i < 125; ++i) ping.append(static_cast<char>('p' ^ mask[i % 4]));
  const QByteArray batch = ping.repeated(64);
  struct Dashboard {
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray head;
    bool upgraded = false;
    qint64 sent = 0;
  };
  std::vector<Dashboard> dashboards(count);
  for (Dashboard& d : dashboards) {
    QTcpSocket* s = d.socket.get();
    const auto pump = [&d, &batch] {
      while (d.upgraded && d.sent < kPingBytesEach && d.socket->bytesToWrite() < 64 * 1024) {
        d.socket->write(batch);
        d.sent += batch.size();
      }
    };
    QObject::connect(s, &QTcpSocket::connected, [s, &handshake] { s->write(handshake); });
    QObject::connect(s, &QTcpSocket::readyRead, [&d, s, pump] {
      if (d.upgraded) return;
      d.head += s->readAll();
      if (!d.head.contains("\r\n\r\n")) return;
      d.upgraded = d.head.startsWith("HTTP/1.1 101");
      s->setReadBufferSize(1);  // from here on, nothing is read
      pump();
    });
    QObject::connect(s, &QTcpSocket::bytesWritten, pump);
    open(s, t.httpPort);
  }
  runWhile(t.seconds);
  int upgraded = 0;
  qint64 sent = 0;
  for (Dashboard& d : dashboards) {
    d.socket->disconnect();
    upgraded += d.upgraded;
    sent += d.sent - d.socket->bytesToWrite();
  }
  return said("%d of %d dashboards upgraded, then sent %.1f MB of pings and read nothing", upgraded,
              count, static_cast<double>(sent) / 1e6);
}

// Captures of scale A with the token, `perSecond` asked a second with at most `inFlight` waiting,
// until `wanted` are committed (0: no such end) or the time is up. They go over 16 keep-alive
// connections (the seats one address gets), each with its share of `inFlight` pipelined, on plain
// sockets, so that the clients take little of the machine the program runs on.
std::string captures(const LoadTarget& t, int perSecond, int inFlight, long wanted) {
  constexpr int kConnections = 16;
  const QByteArray request = "POST /api/v1/scales/A/captures HTTP/1.1\r\nHost: 127.0.0.1:" +
                             QByteArray::number(t.httpPort) + "\r\nAuthorization: Bearer " +
                             t.token +
                             "\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}";
  struct Connection {
    QTcpSocket socket;
    int out = 0;  // requests written whose status line has not come
  };
  std::vector<std::unique_ptr<Connection>> connections;
  std::map<int, long> statuses;
  for (int i = 0; i < kConnections; ++i) {
    connections.push_back(std::make_unique<Connection>());
    Connection* c = connections.back().get();
    QObject::connect(&c->socket, &QTcpSocket::readyRead, [c, &statuses] {
      const QByteArray got = c->socket.readAll();
      for (qsizetype at = got.indexOf("HTTP/1.1 "); at >= 0;
           at = got.indexOf("HTTP/1.1 ", at + 1)) {
        ++statuses[got.mid(at + 9, 3).toInt()];
        c->out = std::max(0, c->out - 1);
      }
    });
    QObject::connect(&c->socket, &QTcpSocket::disconnected, [c] { c->out = 0; });
    open(&c->socket, t.httpPort);
  }
  const int share = std::max(1, inFlight / kConnections);
  long asked = 0;
  const long most = static_cast<long>(perSecond * t.seconds);
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const long due = std::min(most, static_cast<long>(clock.elapsed() * perSecond / 1000));
    for (auto& c : connections) {
      if (c->socket.state() == QAbstractSocket::UnconnectedState) open(&c->socket, t.httpPort);
      if (c->socket.state() != QAbstractSocket::ConnectedState) continue;
      while (asked < due && c->out < share) {
        c->socket.write(request);
        ++c->out;
        ++asked;
      }
    }
  });
  tick.start(5);
  runWhile(t.seconds, [&] {
    const auto committed = statuses.find(201);
    return wanted == 0 || committed == statuses.end() || committed->second < wanted;
  });
  for (auto& c : connections) c->socket.disconnect();
  return said(
      "%ld captures asked, %.0f a second (at most %d, %d waiting); answers:%s", asked,
      static_cast<double>(asked) * 1000 / static_cast<double>(std::max<qint64>(1, clock.elapsed())),
      perSecond, inFlight, statusText(statuses).c_str());
}

}  // namespace

const std::vector<std::string>& loadCaseNames() {
  static const std::vector<std::string> names{
      "pipelined-1", "pipelined-4",   "readers-16",    "modbus-flood", "keepalive-64",
      "idle-100",    "slowloris-400", "dashboards-16", "captures-900", "modbus-idle-1057"};
  return names;
}

std::string runLoadCase(const std::string& name, const LoadTarget& t) {
  if (name == "prefill") return captures(t, 100000, 24, 1000);
  if (name == "pipelined-1") return pipelined(t, 1);
  if (name == "pipelined-4") return pipelined(t, 4);
  if (name == "readers-16") return readers(t, 16);
  if (name == "modbus-flood") return modbusFlood(t);
  if (name == "modbus-idle-1057") return modbusIdle(t, 1057);
  if (name == "keepalive-64") return keepAlive(t, 64, 7000);
  if (name == "idle-100") return idle(t, 100);
  if (name == "slowloris-400") return slowLoris(t, 400);
  if (name == "dashboards-16") return pingFlood(t, 16);
  if (name == "captures-900") return captures(t, 900, 48, 0);
  return {};
}

}  // namespace trv4::bench
