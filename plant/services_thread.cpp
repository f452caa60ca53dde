#include "plant/services_thread.h"

#include <QMetaObject>

#include "base/thread_priority.h"

namespace trv4 {

ServicesThread::ServicesThread(Toolkit& messages)
    : toolkit_(std::make_unique<UnattendedToolkit>([this, &messages](const std::string& text) {
        postBack([&messages, text] { messages.messageBox(text); });
      })),
      context_(new QObject) {
  thread_.setObjectName(QStringLiteral("plant services"));
  context_->moveToThread(&thread_);
  thread_.start(QThread::LowPriority);
  post(scheduleThisThreadBelowTheLink);
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
