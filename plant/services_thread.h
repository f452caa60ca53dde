// The plant services' own thread: an event loop for HTTP with its live feed and Modbus TCP, so
// that nothing a network client does delays the serial link, which runs with the windows on the
// user-interface thread. Work goes there with post() and comes back with postBack(); neither
// waits for the other thread.
#pragma once

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

#include "base/unattended_toolkit.h"

namespace trv4 {

class ServicesThread {
 public:
  // messages: the windows' toolkit, which shows what the services tell, on its own thread.
  explicit ServicesThread(Toolkit& messages);
  // Runs what was posted, then ends the thread; what it posted back and has not run is dropped.
  ~ServicesThread();
  ServicesThread(const ServicesThread&) = delete;
  ServicesThread& operator=(const ServicesThread&) = delete;

  // Runs fn on the services thread, after everything posted before it.
  void post(std::function<void()> fn);
  // Runs fn on the thread that made this one, later.
  void postBack(std::function<void()> fn);
  // The services' toolkit: timers made on the services thread tick there, the clock is the
  // program's, messages go to the windows' toolkit, questions are answered No.
  Toolkit& toolkit() { return *toolkit_; }

 private:
  std::unique_ptr<UnattendedToolkit> toolkit_;
  QObject home_;  // on the making thread: what is posted back runs in its event loop
  QThread thread_;
  QObject* context_;  // on the services thread
};

}  // namespace trv4
