#include "plant/services_thread.h"

#include <QMetaObject>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace trv4 {

class ServicesThread::ServiceToolkit : public QtEventToolkit {
 public:
  ServiceToolkit(ServicesThread& thread, Toolkit& messages)
      : thread_(thread), messages_(messages) {}

  void messageBox(const std::string& text) override {
    thread_.postBack([this, text] { messages_.messageBox(text); });
  }
  bool askYesNo(const std::string&, const std::string&) override { return false; }
  std::string inputBox(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::string fileNameBox(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  void setBusy(bool) override {}

 private:
  ServicesThread& thread_;
  Toolkit& messages_;
};

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
    : toolkit_(std::make_unique<ServiceToolkit>(*this, messages)), context_(new QObject) {
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

Toolkit& ServicesThread::toolkit() {
  return *toolkit_;
}

void ServicesThread::post(std::function<void()> fn) {
  QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

void ServicesThread::postBack(std::function<void()> fn) {
  QMetaObject::invokeMethod(&home_, std::move(fn), Qt::QueuedConnection);
}

}  // namespace trv4
