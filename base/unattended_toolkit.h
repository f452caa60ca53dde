// The toolkit where nobody is there to answer (the gateway, the plant services' and the
// journal's threads): the shared Qt timers and clock, every question answered No, every input
// box Cancel, no busy pointer; what a window would show in a box goes to `tell`.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "base/qt_event_toolkit.h"

namespace trv4 {

class UnattendedToolkit : public QtEventToolkit {
 public:
  explicit UnattendedToolkit(std::function<void(const std::string&)> tell = nullptr)
      : tell_(std::move(tell)) {}

  void messageBox(const std::string& text) override {
    if (tell_) tell_(text);
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
  std::function<void(const std::string&)> tell_;
};

}  // namespace trv4
