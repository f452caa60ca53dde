#include "plant/services_thread.h"

#include <QMetaObject>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace trv4 {

namespace {

// How much lower than the link's thread the services' thread is scheduled on Linux (a nice
// value): when both want the processor, the link gets it, and the services still get every
// cycle the link leaves.
constexpr int kServicesNice = 10;

void yieldToTheLink() {
#ifdef Q_OS_LINUX
  // Linux keeps a nice value per thread; QThread's priorities do nothing under its default
  // scheduling policy.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kServicesNice);
#endif
}

}  // namespace

ServicesThread::ServicesThread(Toolkit& messages)
    : toolkit_(std::make_unique<UnattendedToolkit>([this, &messages](const std::string& text) {
        postBack([&messages, text] { messages.messageBox(text); });
      })),
      context_(new QObject) {
  thread_.setObjectName(QStringLiteral("plant services"));
  context_->moveToThread(&thread_);
  thread_.start(QThread::LowPriority);
  post(yieldToTheLink);
}

ServicesThread::~ServicesThread() {
  // Queued behind everything posted, so what was posted (the services' ends) runs first.
  QMetaObject::invokeMethod(
      context_, [this] { thread_.quit(); }, Qt::QueuedConnection);
  thread_.wait();
  delete context_;
}

void ServicesThread::post(std::function<void()> fn) {
  QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

void ServicesThread::postBack(std::function<void()> fn) {
  QMetaObject::invokeMethod(&home_, std::move(fn), Qt::QueuedConnection);
}

}  // namespace trv4
