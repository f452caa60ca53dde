#include "net/accept_backoff.h"

#include <QTcpServer>
#include <QTimerEvent>
#include <algorithm>

namespace trv4 {

AcceptBackoff::AcceptBackoff(QTcpServer* listener) : QObject(listener), listener_(listener) {
  connect(listener, &QTcpServer::acceptError, this, &AcceptBackoff::failed);
  connect(listener, &QTcpServer::newConnection, this, [this] { pauseMs_ = kFirstPauseMs; });
}

void AcceptBackoff::failed() {
  listener_->pauseAccepting();
  // A failure while paused (a connection handed out turned accepting on) keeps the pause as is.
  if (resume_.isActive()) return;
  resume_.start(pauseMs_, this);
  pauseMs_ = std::min(2 * pauseMs_, kLongestPauseMs);
}

void AcceptBackoff::timerEvent(QTimerEvent* event) {
  if (event->timerId() != resume_.timerId()) {
    QObject::timerEvent(event);
    return;
  }
  resume_.stop();
  if (listener_->isListening()) listener_->resumeAccepting();
}

}  // namespace trv4
