// Keeps a listener accepting after it ran out of descriptors. When an accept fails for want of
// resources (EMFILE and the like), Qt pauses the listener and never resumes it, while every
// connection it hands out meanwhile turns accepting back on for one more failed try. This
// pauses it and tries again after 100 ms, doubling to 2 s while the failures go on; an accepted
// connection starts the next pause at 100 ms again.
#pragma once

#include <QBasicTimer>
#include <QObject>

class QTcpServer;

namespace trv4 {

class AcceptBackoff : public QObject {
  Q_OBJECT

 public:
  static constexpr int kFirstPauseMs = 100;
  static constexpr int kLongestPauseMs = 2000;

  // Watches listener, as its child.
  explicit AcceptBackoff(QTcpServer* listener);

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  void failed();

  QTcpServer* listener_;
  QBasicTimer resume_;
  int pauseMs_ = kFirstPauseMs;
};

}  // namespace trv4
