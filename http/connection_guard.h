// What stands between the network and Qt's HTTP server, which reads every request. Nothing is
// parsed here: the guard counts bytes, watches the clock and decides when the server may read.
//
// - A request that grows past maxRequestBytes is answered 413, one the server cannot read 400.
// - The server reads a connection's next request only once the previous answer is written and
//   less than maxUnsentBytes of it wait to be sent, so pipelined requests are answered in order
//   and a client that does not read holds at most that much plus one answer.
// - The clock of a connection counts from what its client took: it runs from the opening, from
//   the moment the client took the last byte of an answer, or from the last bytes it took of one
//   still being sent. Past idleMs a begun request gets 408, an idle connection is closed, and
//   one whose answer does not move is cut off. It stops while an answer waits (a capture).
// - A connection lives at most maxLifeMs and maxRequests requests; then it closes after its
//   answer.
// - Seats: maxConnections in all and maxPerAddress for one source address. A newcomer that finds
//   no seat makes the connection that has waited longest on its client go (an idle one is
//   closed, one that has not sent its request whole is answered 503); when every connection is
//   busy it takes one of loopbackReserve seats if it comes from this PC, else one of
//   tokenReserve seats on trial (kept only if its first request shows the token), else 503.
#pragma once

#include <QBasicTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trv4 {

struct GuardLimits {
  int maxConnections = 64;
  int maxPerAddress = 16;
  int loopbackReserve = 4;
  int tokenReserve = 4;
  qint64 maxRequestBytes = 16 * 1024;
  qint64 maxUnsentBytes = 64 * 1024;
  // What the system may hold for a client beyond that (Linux doubles it): what it took counts as
  // taken by the client.
  int sendBufferBytes = 64 * 1024;
  int idleMs = 10000;
  int maxLifeMs = 60000;
  int maxRequests = 1000;
  // A refused connection's late bytes are read and dropped this long, so its client reads the
  // answer before the connection closes.
  int drainMs = 1000;
};

class GuardedSocket;

// The connections of one guard, shared with its sockets (which the HTTP server may delete
// after the guard).
struct GuardRoll {
  std::vector<GuardedSocket*> sockets;
};

class GuardedSocket : public QTcpSocket {
  Q_OBJECT

 public:
  enum class Seat { kTable, kLoopback, kTrial, kTrusted };

  GuardedSocket(const GuardLimits& limits, std::shared_ptr<GuardRoll> roll, QObject* parent);
  ~GuardedSocket() override;

  // While a reply waits for something else (a capture), the clock is off and the server reads
  // no further request.
  void setAwaiting(bool awaiting);
  // The connection is a WebSocket now: no limits apply any more.
  void setUpgraded();
  // Answers status with a JSON error and closes; the HTTP server reads nothing more from it.
  void refuse(int status, const std::string& error, const std::string& message);
  // Reads no further request and closes once the answer being written is out.
  void closeAfterAnswer();

  // On trial until its first request shows the token (trust) or is turned away.
  bool onTrial() const { return seat_ == Seat::kTrial; }
  void trust();

  Seat seat() const { return seat_; }
  void setSeat(Seat seat) { seat_ = seat; }
  // Still served: not refused, closing or gone.
  bool serving() const;
  // Served and waiting on its client (no answer pending or unsent): it may go for a newcomer.
  bool waitsOnClient() const;
  qint64 waitingSinceMs() const { return waitingSinceMs_; }
  // Lets the connection go for a newcomer.
  void evict();

  // Qt's HTTP server closes a connection whose request it cannot read: that gets 400 first.
  void disconnectFromHost() override;

 protected:
  qint64 writeData(const char* data, qint64 size) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void beforeServerReads();
  void checkOversized();
  void tookBytes();
  // Holds the server off: the guard's own transaction takes every byte it could read.
  void hold();
  // Releases the hold once nothing keeps it.
  void settle();
  void drain();
  // Closes once the answer is out; a client that does not take it is cut off after drainMs.
  void closeSoon();

  GuardLimits limits_;
  std::shared_ptr<GuardRoll> roll_;
  Seat seat_ = Seat::kTable;
  QBasicTimer deadline_;
  QBasicTimer lifeEnd_;
  QBasicTimer drainEnd_;
  qint64 waitingSinceMs_ = 0;
  qint64 requestBytes_ = 0;  // of the request being read
  qint64 drained_ = 0;
  int requests_ = 0;
  bool answered_ = false;  // something was written since the request began
  bool awaiting_ = false;
  bool holding_ = false;
  bool retiring_ = false;  // closes after the current answer
  bool upgraded_ = false;
  bool refused_ = false;
  bool cutOff_ = false;  // the next drainEnd_ aborts
};

class ConnectionGuard : public QTcpServer {
  Q_OBJECT

 public:
  explicit ConnectionGuard(const GuardLimits& limits, QObject* parent = nullptr);
  // Connections handed to the HTTP server and still served.
  int connections() const;
  // Bytes of answers written and not yet taken by the clients, over every connection.
  qint64 unsentBytes() const;

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  // Where a newcomer sits, making room when it must; false: no seat.
  bool seat(GuardedSocket& newcomer);
  // Lets the connection among those that pass that has waited longest on its client go; the
  // seat it had, none when none passes.
  template <typename Pass>
  std::optional<GuardedSocket::Seat> evictLongestWaiting(const GuardedSocket& newcomer, Pass pass);

  GuardLimits limits_;
  std::shared_ptr<GuardRoll> roll_ = std::make_shared<GuardRoll>();
};

}  // namespace trv4
