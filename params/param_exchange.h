// The parameter window's exchanges with one scale: a command placed in the target's mailbox and
// a short wait, yielding to the event loop on every pass, until the scale's answer is filed or
// Timer2 runs out. The target is the single-scale window's selection, or, while an operation
// holds it, the scale that was selected when the operation started.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/toolkit.h"
#include "display/display_settings.h"
#include "link/link_state.h"

namespace trv4 {

// The longest wait for a broadcast command to leave: Timer2's interval as the window loads.
inline constexpr int kBroadcastSendWait = 3000;

class ParamExchange {
 public:
  // Creates Timer2: on, 3000 ms, switching itself off at its tick.
  ParamExchange(LinkState& state, const DisplaySettings& settings, Toolkit& toolkit);

  // One send, up to 300 ms for the answer (the broadcast wait: see waitBroadcast).
  void WaitPin(const std::string& a);
  // Up to two sends, up to 100 ms each.
  void WaitData(const std::string& a);
  // Up to three WaitData calls until the answer is longer than b characters and carries c from
  // its third character on. True then; for "@" true after the first call, whatever came.
  bool WaitDataL(const std::string& a, std::size_t b, const std::string& c);

  // Fixes the target to the scale selected now until release(): every request of one operation
  // goes to the scale chosen when it started, whatever the operator chooses meanwhile.
  void hold() { held_ = settings_.SingleScale; }
  void release() { held_.clear(); }
  // The address the exchanges go to: the held one, else the single-scale window's selection.
  const std::string& target() const { return held_.empty() ? settings_.SingleScale : held_; }
  bool held() const { return !held_.empty(); }

  // The target is "@": every scale.
  bool broadcast() const;
  // CommandReply of the target (empty for "@").
  std::string reply() const;

  Timer& Timer2() { return *timer2_; }

 private:
  int slot() const;  // 0..29, or the broadcast slot for "@"
  void waitForReply(int slot);
  void waitBroadcast(const std::string& a);

  LinkState& state_;
  const DisplaySettings& settings_;
  Toolkit& toolkit_;
  std::unique_ptr<Timer> timer2_;
  std::string held_;  // empty while no operation holds the target
};

}  // namespace trv4
