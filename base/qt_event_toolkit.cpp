#include "base/qt_event_toolkit.h"

#include <chrono>

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include "base/widget_text.h"

namespace trv4 {

namespace {

// A QTimer with Enabled/Interval semantics: an interval of 0 never ticks (a zero QTimer would
// fire on every pass of the event loop), and setting the interval restarts the count.
class QtTimer : public Timer {
 public:
  explicit QtTimer(std::function<void()> onTick) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [tick = std::move(onTick)] {
      if (tick) tick();
    });
  }

  void setEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    apply();
  }
  bool enabled() const override { return enabled_; }
  void setInterval(int ms) override {
    interval_ = ms;
    apply();
  }
  int interval() const override { return interval_; }

 private:
  void apply() {
    if (enabled_ && interval_ > 0) {
      timer_.start(interval_);
    } else {
      timer_.stop();
    }
  }

  QTimer timer_;
  bool enabled_ = false;
  int interval_ = 0;
};

}  // namespace

std::unique_ptr<Timer> QtEventToolkit::createTimer(std::function<void()> onTick) {
  return std::make_unique<QtTimer>(std::move(onTick));
}

void QtEventToolkit::yield() {
  // Runs what is waiting, else sleeps until the next event: a waiting loop never spins.
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// One form on every machine, whatever the desktop's settings, so logs read alike everywhere.
Toolkit::ClockText QtEventToolkit::clockText() {
  const QDateTime now = QDateTime::currentDateTime();
  return {toCodePage(now.toString(QStringLiteral("yyyy-MM-dd"))),
          toCodePage(now.toString(QStringLiteral("HH:mm:ss")))};
}

int64_t QtEventToolkit::steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t QtEventToolkit::wallMs() {
  return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace trv4
