#include "app/qt_toolkit.h"

#include <chrono>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>
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

QtToolkit::QtToolkit(QString title) : title_(std::move(title)) {}

std::unique_ptr<Timer> QtToolkit::createTimer(std::function<void()> onTick) {
  return std::make_unique<QtTimer>(std::move(onTick));
}

void QtToolkit::yield() {
  // Runs what is waiting, else sleeps until the next event: a waiting loop never spins.
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtToolkit::messageBox(const std::string& text) {
  // A plain box: the program's title, the text and OK, no icon.
  QMessageBox box(QMessageBox::NoIcon, title_, fromCodePage(text), QMessageBox::Ok, parent_);
  box.exec();
}

bool QtToolkit::askYesNo(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Question, fromCodePage(title), fromCodePage(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  return box.exec() == QMessageBox::Yes;
}

std::string QtToolkit::inputBox(const std::string& prompt, const std::string& title,
                                const std::string& defaultText) {
  bool ok = false;
  QString text = QInputDialog::getText(parent_, fromCodePage(title), fromCodePage(prompt),
                                       QLineEdit::Normal, fromCodePage(defaultText), &ok);
  return ok ? toCodePage(text) : std::string();
}

std::string QtToolkit::fileNameBox(const std::string& prompt, const std::string& title,
                                   const std::string& defaultName) {
  // File names go between the box and the file system in the system's own encoding, so a name
  // the code page cannot hold (a folder called "Wägung") survives both ways.
  bool ok = false;
  const QString text =
      QInputDialog::getText(parent_, fromCodePage(title), fromCodePage(prompt), QLineEdit::Normal,
                            QFile::decodeName(QByteArray::fromStdString(defaultName)), &ok);
  return ok ? QFile::encodeName(text).toStdString() : std::string();
}

void QtToolkit::setBusy(bool busy) {
  if (busy) {
    if (busyDepth_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (busyDepth_ > 0) {
    if (--busyDepth_ == 0) QApplication::restoreOverrideCursor();
  }
}

// One form on every machine, whatever the desktop's settings, so logs read alike everywhere.
Toolkit::ClockText QtToolkit::clockText() {
  const QDateTime now = QDateTime::currentDateTime();
  return {toCodePage(now.toString(QStringLiteral("yyyy-MM-dd"))),
          toCodePage(now.toString(QStringLiteral("HH:mm:ss")))};
}

int64_t QtToolkit::steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t QtToolkit::wallMs() {
  return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace trv4
