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
//
// A restart of a running timer with its own interval only moves the time it is due: the link
// restarts its character time-out at every character, and re-registering a QTimer each time cost
// more than the rest of the character's handling. When the QTimer fires before the time it is
// due, it waits out the rest and ticks then.
class QtTimer : public Timer {
 public:
  explicit QtTimer(std::function<void()> onTick) : tick_(std::move(onTick)) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { fired(); });
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
  void restart(int ms) override {
    if (enabled_ && ms == interval_ && timer_.isActive()) {
      due_ = Clock::now() + std::chrono::milliseconds(ms);
      return;
    }
    Timer::restart(ms);
  }

 private:
  using Clock = std::chrono::steady_clock;

  void apply() {
    if (enabled_ && interval_ > 0) {
      due_ = Clock::now() + std::chrono::milliseconds(interval_);
      timer_.start(interval_);
    } else {
      timer_.stop();
    }
  }

  void fired() {
    const Clock::time_point now = Clock::now();
    if (now < due_) {
      // Moved on by a restart meanwhile: the rest, rounded up to whole milliseconds.
      const auto rest = std::chrono::ceil<std::chrono::milliseconds>(due_ - now);
      timer_.start(static_cast<int>(rest.count()));
      return;
    }
    // Back to the interval, counted from this tick.
    due_ = now + std::chrono::milliseconds(interval_);
    if (timer_.interval() != interval_) timer_.start(interval_);
    if (tick_) tick_();
  }

  std::function<void()> tick_;
  QTimer timer_;
  bool enabled_ = false;
  int interval_ = 0;
  Clock::time_point due_;
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
  const qint64 ms = QDateTime::currentMSecsSinceEpoch();
  const int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  if (second != clockSecond_) {
    // Local time, worked out for the whole second: its offset can only change between seconds.
    const QDateTime now = QDateTime::fromSecsSinceEpoch(second);
    clock_ = {toCodePage(now.toString(QStringLiteral("yyyy-MM-dd"))),
              toCodePage(now.toString(QStringLiteral("HH:mm:ss")))};
    clockSecond_ = second;
  }
  return clock_;
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
