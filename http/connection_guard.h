// What stands between the network and Qt's HTTP server, which reads every request: it serves at
// most maxConnections at once and answers the rest 503; a request that grows past
// maxRequestBytes is answered 413, one the server cannot read 400; a connection that holds no
// whole request for idleMs after it opened or got its last answer is closed (408 when a request
// was begun). Nothing is parsed here: the guard counts bytes and watches the clock.
#pragma once

#include <QBasicTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <string>

namespace trv4 {

struct GuardLimits {
  int maxConnections = 64;
  qint64 maxRequestBytes = 16 * 1024;
  int idleMs = 10000;
  // A refused connection's late bytes are read and dropped this long, so its client reads the
  // answer before the connection closes.
  int drainMs = 1000;
};

class GuardedSocket : public QTcpSocket {
  Q_OBJECT

 public:
  // count: the connections of its kind open, shared with the guard.
  GuardedSocket(const GuardLimits& limits, std::shared_ptr<int> count, QObject* parent);
  ~GuardedSocket() override;

  // While a reply waits for something else (a capture), the time limit is off; it runs again
  // from the reply.
  void setAwaiting(bool awaiting);
  // The connection is a WebSocket now: no limits apply any more.
  void setUpgraded();
  // Answers status with a JSON error and closes; the HTTP server reads nothing more from it.
  void refuse(int status, const std::string& error, const std::string& message);

  // Qt's HTTP server closes a connection whose request it cannot read: that gets 400 first.
  void disconnectFromHost() override;

 protected:
  qint64 writeData(const char* data, qint64 size) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void beforeServerReads();
  void drain();
  // Closes once the answer is out; a client that does not take it is cut off after drainMs.
  void closeSoon();

  GuardLimits limits_;
  std::shared_ptr<int> count_;
  QBasicTimer deadline_;
  QBasicTimer drainEnd_;
  qint64 requestBytes_ = 0;  // of the request being read
  qint64 drained_ = 0;
  bool answered_ = false;  // something was written since the request began
  bool awaiting_ = false;
  bool upgraded_ = false;
  bool refused_ = false;
  bool cutOff_ = false;  // the next drainEnd_ aborts
};

class ConnectionGuard : public QTcpServer {
  Q_OBJECT

 public:
  explicit ConnectionGuard(const GuardLimits& limits, QObject* parent = nullptr);
  // Connections handed to the HTTP server and not yet closed.
  int connections() const { return *open_; }

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  GuardLimits limits_;
  std::shared_ptr<int> open_ = std::make_shared<int>(0);
  std::shared_ptr<int> refusing_ = std::make_shared<int>(0);
};

}  // namespace trv4
