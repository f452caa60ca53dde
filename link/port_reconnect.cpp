#include "link/port_reconnect.h"

namespace trv4 {

PortReconnect::PortReconnect(SerialPort& port, Toolkit& toolkit) : port_(port), toolkit_(toolkit) {
  timer_ = toolkit_.createTimer([this] { retry(); });
  timer_->setInterval(kReconnectInterval);
  port_.setOnDeviceLost([this] { lost(); });
}

PortReconnect::~PortReconnect() {
  port_.setOnDeviceLost(nullptr);
}

void PortReconnect::tell(const std::string& text) {
  // Message boxes let timers run meanwhile: a loss while one shows adds none.
  if (telling_) return;
  telling_ = true;
  toolkit_.messageBox(text);
  telling_ = false;
}

void PortReconnect::lost() {
  if (timer_->enabled()) return;
  refusalTold_ = false;
  timer_->setEnabled(true);
  tell("Port " + std::to_string(port_.commPort()) +
       " was disconnected. The program opens it again as soon as its device is back.");
}

void PortReconnect::retry() {
  // Opened meanwhile, by the settings dialog for one.
  if (port_.portOpen()) {
    timer_->setEnabled(false);
    return;
  }
  if (port_.reopen()) return;  // still gone: the next try in a second
  // The device is back: it must take the settings the program runs with.
  PortError refused = port_.setSettings(port_.settings());
  if (!refused) refused = port_.setHandshaking(port_.handshaking());
  if (!refused) {
    timer_->setEnabled(false);
    return;
  }
  port_.setPortOpen(false);
  if (refusalTold_) return;
  refusalTold_ = true;
  tell("Port " + std::to_string(port_.commPort()) + " is back but refuses the settings " +
       port_.settings() + " (" + portErrorText(*refused) + "). The program keeps trying.");
}

}  // namespace trv4
