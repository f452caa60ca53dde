#include "http/connection_guard.h"

#include <QElapsedTimer>
#include <QTimerEvent>
#include <algorithm>

#include "http/api_json.h"

namespace trv4 {

namespace {

// Beyond this many connections being refused at once, more are closed without an answer.
constexpr int kRefusingMax = 128;
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

qint64 nowMs() {
  static const QElapsedTimer clock = [] {
    QElapsedTimer c;
    c.start();
    return c;
  }();
  return clock.elapsed();
}

}  // namespace

GuardedSocket::GuardedSocket(const GuardLimits& limits, std::shared_ptr<GuardRoll> roll,
                             QObject* parent)
    : QTcpSocket(parent), limits_(limits), roll_(std::move(roll)), waitingSinceMs_(nowMs()) {
  roll_->sockets.push_back(this);
  // Qt reads no more than a whole request ahead: the rest waits in the network.
  setReadBufferSize(limits_.maxRequestBytes + 1);
  // Connected before the HTTP server's own reader, so every byte is counted before it is read.
  connect(this, &QTcpSocket::readyRead, this, &GuardedSocket::beforeServerReads);
  connect(this, &QIODevice::bytesWritten, this, &GuardedSocket::tookBytes);
  deadline_.start(limits_.idleMs, this);
  lifeEnd_.start(limits_.maxLifeMs, this);
}

GuardedSocket::~GuardedSocket() {
  auto& sockets = roll_->sockets;
  sockets.erase(std::remove(sockets.begin(), sockets.end(), this), sockets.end());
}

bool GuardedSocket::serving() const {
  return !refused_ && state() == ConnectedState;
}

bool GuardedSocket::waitsOnClient() const {
  return serving() && !upgraded_ && !awaiting_ && !holding_ && !retiring_ && bytesToWrite() == 0;
}

void GuardedSocket::trust() {
  seat_ = Seat::kTrusted;
}

void GuardedSocket::setAwaiting(bool awaiting) {
  awaiting_ = awaiting;
  if (awaiting) {
    deadline_.stop();
  } else {
    deadline_.start(limits_.idleMs, this);
    settle();
  }
}

void GuardedSocket::setUpgraded() {
  upgraded_ = true;
  deadline_.stop();
  lifeEnd_.stop();
  setReadBufferSize(0);
  disconnect(this, &QTcpSocket::readyRead, this, &GuardedSocket::beforeServerReads);
}

void GuardedSocket::closeAfterAnswer() {
  retiring_ = true;
}

void GuardedSocket::beforeServerReads() {
  if (refused_ || upgraded_) return;
  if (holding_) {
    skip(bytesAvailable());  // kept in the guard's transaction; the server sees nothing
    return;
  }
  if (!isTransactionStarted()) {
    // No request open: the server would begin the next one with what is buffered.
    if (bytesAvailable() == 0) return;
    if (requests_ >= limits_.maxRequests) retiring_ = true;
    if (awaiting_ || retiring_ || bytesToWrite() > limits_.maxUnsentBytes) {
      hold();
      settle();
      return;
    }
    ++requests_;
    answered_ = false;
    requestBytes_ = bytesAvailable();
    // What is buffered may hold several pipelined requests: once the server has read, a request
    // still open with the buffer full is too large.
    if (requestBytes_ > limits_.maxRequestBytes)
      QMetaObject::invokeMethod(this, &GuardedSocket::checkOversized, Qt::QueuedConnection);
    return;
  }
  // The server read everything of the open request before: what is available is new.
  requestBytes_ += bytesAvailable();
  if (requestBytes_ > limits_.maxRequestBytes)
    refuse(413, "too large",
           "a request may hold at most " + std::to_string(limits_.maxRequestBytes) + " bytes");
}

void GuardedSocket::checkOversized() {
  if (!refused_ && !upgraded_ && !holding_ && isTransactionStarted() && bytesAvailable() == 0 &&
      requestBytes_ > limits_.maxRequestBytes)
    refuse(413, "too large",
           "a request may hold at most " + std::to_string(limits_.maxRequestBytes) + " bytes");
}

void GuardedSocket::hold() {
  holding_ = true;
  startTransaction();
  skip(bytesAvailable());
}

void GuardedSocket::settle() {
  if (!holding_ || refused_ || awaiting_) return;
  if (retiring_) {
    closeSoon();
    return;
  }
  if (bytesToWrite() > limits_.maxUnsentBytes) return;
  holding_ = false;
  rollbackTransaction();
  // The server reads on its next readyRead; after what is being done now.
  if (bytesAvailable() > 0)
    QMetaObject::invokeMethod(this, &QIODevice::readyRead, Qt::QueuedConnection);
}

void GuardedSocket::tookBytes() {
  if (refused_ || upgraded_) return;
  if (!awaiting_) {
    deadline_.start(limits_.idleMs, this);
    if (bytesToWrite() == 0) waitingSinceMs_ = nowMs();
  }
  // A connection that closes after its answer does so once the answer is written whole.
  if (retiring_ && !awaiting_ && (holding_ || !isTransactionStarted())) {
    closeSoon();
    return;
  }
  settle();
}

void GuardedSocket::refuse(int status, const std::string& error, const std::string& message) {
  if (refused_) return;
  refused_ = true;
  holding_ = false;
  deadline_.stop();
  lifeEnd_.stop();
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

void GuardedSocket::evict() {
  if (requests_ > 0 && !isTransactionStarted()) {
    closeSoon();  // idle after its answers: closed as the idle time would
    return;
  }
  int refusing = 0;
  for (const GuardedSocket* s : roll_->sockets) refusing += s->serving() ? 0 : 1;
  if (refusing >= kRefusingMax) {
    refused_ = true;
    abort();
    return;
  }
  refuse(503, "busy", "the server is full; try again");
}

void GuardedSocket::drain() {
  drained_ += readAll().size();
  if (drained_ > kDrainMax) abort();
}

void GuardedSocket::disconnectFromHost() {
  // Qt closes a connection whose peer went, through here too: that one had no request begun,
  // or one its client gave up; only a request begun and not answered gets the 400.
  if (!refused_ && !upgraded_ && !holding_ && state() == ConnectedState && isTransactionStarted() &&
      !answered_) {
    refuse(400, "bad request", "the request is not well-formed HTTP/1.1");
    return;
  }
  QTcpSocket::disconnectFromHost();
}

qint64 GuardedSocket::writeData(const char* data, qint64 size) {
  answered_ = true;
  return QTcpSocket::writeData(data, size);
}

void GuardedSocket::closeSoon() {
  refused_ = true;
  holding_ = false;
  deadline_.stop();
  lifeEnd_.stop();
  disconnect(this, &QTcpSocket::readyRead, nullptr, nullptr);
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
    if (bytesToWrite() > 0)
      abort();  // the client takes nothing of its answer
    else if (!holding_ && requestBytes_ > 0 && isTransactionStarted())
      refuse(408, "timeout",
             "the request did not arrive whole within " + std::to_string(limits_.idleMs) + " ms");
    else
      closeSoon();  // an idle connection closes without a word
  } else if (event->timerId() == lifeEnd_.timerId()) {
    lifeEnd_.stop();
    retiring_ = true;
    if (!awaiting_ && !holding_ && !isTransactionStarted() && bytesToWrite() == 0) closeSoon();
  } else {
    QTcpSocket::timerEvent(event);
  }
}

ConnectionGuard::ConnectionGuard(const GuardLimits& limits, QObject* parent)
    : QTcpServer(parent), limits_(limits) {}

int ConnectionGuard::connections() const {
  int n = 0;
  for (const GuardedSocket* s : roll_->sockets) n += s->serving() ? 1 : 0;
  return n;
}

qint64 ConnectionGuard::unsentBytes() const {
  qint64 n = 0;
  for (const GuardedSocket* s : roll_->sockets) n += s->bytesToWrite();
  return n;
}

template <typename Pass>
std::optional<GuardedSocket::Seat> ConnectionGuard::evictLongestWaiting(
    const GuardedSocket& newcomer, Pass pass) {
  GuardedSocket* longest = nullptr;
  for (GuardedSocket* s : roll_->sockets) {
    if (s == &newcomer || !s->waitsOnClient() || !pass(*s)) continue;
    if (longest == nullptr || s->waitingSinceMs() < longest->waitingSinceMs()) longest = s;
  }
  if (longest == nullptr) return std::nullopt;
  longest->evict();
  return longest->seat();
}

bool ConnectionGuard::seat(GuardedSocket& newcomer) {
  using Seat = GuardedSocket::Seat;
  const QHostAddress from = newcomer.peerAddress();
  int fromThere = 0, table = 0, loopback = 0, trial = 0;
  for (const GuardedSocket* s : roll_->sockets) {
    if (s == &newcomer || !s->serving()) continue;
    fromThere += s->peerAddress() == from ? 1 : 0;
    table += s->seat() == Seat::kTable ? 1 : 0;
    loopback += s->seat() == Seat::kLoopback ? 1 : 0;
    trial += s->seat() == Seat::kTrial || s->seat() == Seat::kTrusted ? 1 : 0;
  }
  const auto sameAddress = [&](const GuardedSocket& s) { return s.peerAddress() == from; };
  const auto atTable = [](const GuardedSocket& s) { return s.seat() == Seat::kTable; };
  std::optional<Seat> freed = Seat::kTable;
  if (fromThere >= limits_.maxPerAddress)
    freed = evictLongestWaiting(newcomer, sameAddress);
  else if (table >= limits_.maxConnections)
    freed = evictLongestWaiting(newcomer, atTable);
  if (freed) {
    // A seat of the token holders is the newcomer's on trial only.
    newcomer.setSeat(*freed == Seat::kTrusted ? Seat::kTrial : *freed);
    return true;
  }
  if (from.isLoopback() && loopback < limits_.loopbackReserve) {
    newcomer.setSeat(Seat::kLoopback);
    return true;
  }
  if (trial < limits_.tokenReserve) {
    newcomer.setSeat(Seat::kTrial);
    return true;
  }
  return false;
}

void ConnectionGuard::incomingConnection(qintptr descriptor) {
  auto* socket = new GuardedSocket(limits_, roll_, this);
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  if (seat(*socket)) {
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, limits_.sendBufferBytes);
    addPendingConnection(socket);
    return;
  }
  int refusing = 0;
  for (const GuardedSocket* s : roll_->sockets) refusing += s != socket && !s->serving() ? 1 : 0;
  if (refusing >= kRefusingMax) {
    delete socket;  // closes it without an answer
    return;
  }
  // Never handed to the server: answered, drained and deleted here.
  socket->refuse(503, "busy",
                 "the server serves " + std::to_string(limits_.maxConnections) +
                     " connections at once; try again");
}

}  // namespace trv4
