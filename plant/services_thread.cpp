#include "plant/services_thread.h"

#include <QMetaObject>

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

ServicesThread::ServicesThread(Toolkit& messages)
    : toolkit_(std::make_unique<ServiceToolkit>(*this, messages)), context_(new QObject) {
  thread_.setObjectName(QStringLiteral("plant services"));
  context_->moveToThread(&thread_);
  thread_.start();
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
