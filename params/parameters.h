// The parameter window's logic (Param): the values of one scale's parameters as text, read from
// the scale (upload, internal resolution), written back (two downloads, store), and the PIN lock.
// Each operation works on the scale selected in the single-scale window when it starts, from its
// first request to its last. One exchange runs at a time: the buttons are refused while one
// waits, so no two exchanges share Timer2 or the reply mailbox.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/toolkit.h"
#include "display/display_settings.h"
#include "link/link_state.h"
#include "link/serial_port.h"
#include "params/param_exchange.h"
#include "params/param_fields.h"

namespace trv4 {

class Param {
 public:
  // Every field at its initial value. The window's load then shows it and runs UploadParam.
  Param(LinkState& state, const DisplaySettings& settings, SerialPort& port, Toolkit& toolkit);
  ~Param();

  void UploadParam();
  void Command1_Click();  // "Internal Resolution"
  void Command2_Click();  // "Upload Parameters": the whole window off meanwhile
  void Command3_Click();  // "Download Weight Parameters"
  void Command4_Click();  // "Download Operational Parameters"
  void Command5_Click();  // "Store"
  void Command6_Click();  // "Unlock"
  void Command9_Click();  // "Lock"

  // A field's value: text, "1"/"0" for check boxes and lock labels.
  const std::string& value(const std::string& name) const;
  // The operator's edit: text held to the field's length, check boxes to "0"/"1", choice lists
  // to their entries. False (nothing changed) for anything else.
  bool setValue(const std::string& name, const std::string& text);
  const std::string& vInternal(int i) const { return internal_.at(i); }
  const std::string& Corner(int i) const { return corner_.at(i); }

  // An exchange waits; the window refuses others meanwhile.
  bool busy() const { return busy_; }
  // The window takes input (off during "Upload Parameters").
  bool windowEnabled() const { return windowEnabled_; }
  // The lock buttons switch themselves off while they run.
  bool buttonEnabled(int command) const { return command != pressed_; }

  ParamExchange& exchange() { return exchange_; }

  // Runs after any value or state changed, so the window can repaint.
  std::function<void()> onChanged;
  // Why no exchange with the scale may start now (shown to the operator), empty when one may.
  std::function<std::string()> exchangeBlocker;

 private:
  class Busy;
  // Shows the blocker's reason and returns true when an exchange may not start now.
  bool blocked();
  // An accepted answer to a read request (longer than `longer`, echoing the request), else none.
  std::optional<std::string> read(const std::string& request, std::size_t longer);
  // A write answered with an acknowledge.
  bool write(const std::string& command);
  void decode(const std::string& request, const std::string& answer);
  void readLock();
  void lock(const char* command, int button);
  // The field's digits as a number written with at least `width` digits, or nullopt (and the
  // operator told) when it is not a whole number of 1 to maxDigits digits.
  std::optional<std::string> number(const std::string& name, std::size_t width,
                                    std::size_t maxDigits);
  // The field as exactly `width` characters, or nullopt (and the operator told).
  std::optional<std::string> exact(const std::string& name, std::size_t width);
  void set(const std::string& name, const std::string& text);
  void changed();

  LinkState& state_;
  SerialPort& port_;
  Toolkit& toolkit_;
  ParamExchange exchange_;
  std::map<std::string, std::string> values_;
  std::array<std::string, 5> internal_;
  std::array<std::string, 4> corner_;
  bool busy_ = false;
  bool windowEnabled_ = true;
  int pressed_ = 0;
};

}  // namespace trv4
