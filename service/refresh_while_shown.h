// A window that reads what the link records on a timer of its own: it reads at once when shown,
// then every intervalMs while it shows, and not at all while hidden.
#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace trv4 {

class RefreshWhileShown : public QObject {
 public:
  RefreshWhileShown(QWidget* window, int intervalMs, std::function<void()> refresh)
      : QObject(window), refresh_(std::move(refresh)) {
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] { refresh_(); });
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      refresh_();
      timer_.start();
    } else if (event->type() == QEvent::Hide) {
      timer_.stop();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> refresh_;
  QTimer timer_;
};

}  // namespace trv4
