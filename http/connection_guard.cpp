#include "http/connection_guard.h"

#include <QTimerEvent>

#include "http/api_json.h"
#include "net/accept_backoff.h"

namespace trv4 {

namespace {

// Beyond this many connections being refused at once, more are closed without an answer.
constexpr int kRefusingMax = 64;
// A refused client that keeps sending is cut off after this much.
constexpr qint64 kDrainMax = 1024 * 1024;

const char* reasonPhrase(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 408:
      return "Request Timeout";
    case 413:
      return "Payload Too Large";
    default:
      return "Service Unavailable";
  }
}

}  // namespace

GuardedSocket::GuardedSocket(const GuardLimits& limits, std::shared_ptr<int> count, QObject* parent)
    : QTcpSocket(parent), limits_(limits), count_(std::move(count)) {
  ++*count_;
  // Connected before the HTTP server's own reader, so every byte is counted before it is read.
  connect(this, &QTcpSocket::readyRead, this, &GuardedSocket::beforeServerReads);
  deadline_.start(limits_.idleMs, this);
}

GuardedSocket::~GuardedSocket() {
  --*count_;
}

void GuardedSocket::setAwaiting(bool awaiting) {
  awaiting_ = awaiting;
  if (awaiting) deadline_.stop();
}

void GuardedSocket::setUpgraded() {
  upgraded_ = true;
  deadline_.stop();
  disconnect(this, &QTcpSocket::readyRead, this, &GuardedSocket::beforeServerReads);
}

void GuardedSocket::beforeServerReads() {
  if (refused_ || upgraded_) return;
  // The server reads a request inside a transaction it commits once the request is whole: with
  // none open a new request begins, and what is available is new since the server's last read.
  if (!isTransactionStarted()) {
    requestBytes_ = 0;
    answered_ = false;
  }
  requestBytes_ += bytesAvailable();
  if (requestBytes_ > limits_.maxRequestBytes)
    refuse(413, "too large",
           "a request may hold at most " + std::to_string(limits_.maxRequestBytes) + " bytes");
}

void GuardedSocket::refuse(int status, const std::string& error, const std::string& message) {
  if (refused_) return;
  refused_ = true;
  deadline_.stop();
  // Every reader goes, the server's too (a refusal in the middle of its signal stops it there).
  disconnect(this, &QTcpSocket::readyRead, nullptr, nullptr);
  const QByteArray body = errorBody(error, message);
  QByteArray head =
      "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
      "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
      "\r\nConnection: close\r\n";
  if (status == 503) head += "Retry-After: 1\r\n";
  write(head + "\r\n" + body);
  flush();
  if (isTransactionStarted()) commitTransaction();
  connect(this, &QTcpSocket::readyRead, this, &GuardedSocket::drain);
  connect(this, &QAbstractSocket::disconnected, this, &QObject::deleteLater);
  drain();
  drainEnd_.start(limits_.drainMs, this);
}

void GuardedSocket::drain() {
  drained_ += readAll().size();
  if (drained_ > kDrainMax) abort();
}

void GuardedSocket::disconnectFromHost() {
  // Qt closes a connection whose peer went, through here too: that one had no request begun,
  // or one its client gave up; only a request begun and not answered gets the 400.
  if (!refused_ && !upgraded_ && state() == ConnectedState && isTransactionStarted() &&
      !answered_) {
    refuse(400, "bad request", "the request is not well-formed HTTP/1.1");
    return;
  }
  QTcpSocket::disconnectFromHost();
}

qint64 GuardedSocket::writeData(const char* data, qint64 size) {
  answered_ = true;
  // An answer: the client has idleMs again for its next request.
  if (!refused_ && !upgraded_ && !awaiting_) deadline_.start(limits_.idleMs, this);
  return QTcpSocket::writeData(data, size);
}

void GuardedSocket::closeSoon() {
  refused_ = true;
  QTcpSocket::disconnectFromHost();
  // A client that reads nothing holds the answer in our buffer, and the close with it.
  if (state() != UnconnectedState) {
    cutOff_ = true;
    drainEnd_.start(limits_.drainMs, this);
  }
}

void GuardedSocket::timerEvent(QTimerEvent* event) {
  if (event->timerId() == drainEnd_.timerId()) {
    drainEnd_.stop();
    if (cutOff_)
      abort();
    else
      closeSoon();
  } else if (event->timerId() == deadline_.timerId()) {
    deadline_.stop();
    if (requestBytes_ > 0 && isTransactionStarted())
      refuse(408, "timeout",
             "the request did not arrive whole within " + std::to_string(limits_.idleMs) + " ms");
    else
      closeSoon();  // an idle connection closes without a word
  } else {
    QTcpSocket::timerEvent(event);
  }
}

ConnectionGuard::ConnectionGuard(const GuardLimits& limits, QObject* parent)
    : QTcpServer(parent), limits_(limits) {
  new AcceptBackoff(this);  // accepts again once descriptors are free
}

void ConnectionGuard::incomingConnection(qintptr descriptor) {
  const bool full = *open_ >= limits_.maxConnections;
  if (full && *refusing_ >= kRefusingMax) {
    QTcpSocket dropped;
    dropped.setSocketDescriptor(descriptor);
    dropped.abort();
    return;
  }
  auto* socket = new GuardedSocket(limits_, full ? refusing_ : open_, this);
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  if (full) {
    // Never handed to the server: answered, drained and deleted here.
    socket->refuse(503, "busy",
                   "the server serves " + std::to_string(limits_.maxConnections) +
                       " connections at once; try again");
    return;
  }
  addPendingConnection(socket);
}

}  // namespace trv4
