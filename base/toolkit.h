// Window toolkit services the program's logic relies on: timers, yielding to the event loop,
// message and input boxes, the busy pointer and the clock. The Qt program and the tests each
// supply an implementation; the logic never talks to a toolkit directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace trv4 {

// A timer with the classic Enabled/Interval semantics: while enabled it ticks every Interval ms,
// counted from when it was enabled or its interval was set. Setting the interval of an enabled
// timer restarts the count; enabling an already enabled timer changes nothing; an interval of 0
// never ticks.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void setEnabled(bool enabled) = 0;
  virtual bool enabled() const = 0;
  virtual void setInterval(int ms) = 0;
  virtual int interval() const = 0;

  // Disable, set the interval, enable: the restart the link uses before every wait (and at every
  // character received). A toolkit may do it more cheaply, as long as the next tick comes ms
  // after this call.
  virtual void restart(int ms) {
    setEnabled(false);
    setInterval(ms);
    setEnabled(true);
  }
};

// Texts passed through this interface are 8-bit Windows-1253 bytes, as everywhere in the core;
// only file names are the system's own text (UTF-8 on Linux), so any name the file system holds
// can be offered and typed.
class Toolkit {
 public:
  virtual ~Toolkit() = default;

  // A new timer, disabled, interval 0; onTick runs on the UI thread at every tick.
  virtual std::unique_ptr<Timer> createTimer(std::function<void()> onTick) = 0;

  // Runs every event that is waiting; when none is, sleeps until the next one arrives.
  virtual void yield() = 0;

  // Modal OK box titled with the application's title.
  virtual void messageBox(const std::string& text) = 0;
  // Modal Yes/No box with a question icon; true when Yes was pressed.
  virtual bool askYesNo(const std::string& text, const std::string& title) = 0;
  // Modal input box; the typed text, or "" on Cancel.
  virtual std::string inputBox(const std::string& prompt, const std::string& title,
                               const std::string& defaultText) = 0;
  // Modal input box asking for a file name: prompt and title in the code page, the default and
  // the answer as the system spells file names; "" on Cancel.
  virtual std::string fileNameBox(const std::string& prompt, const std::string& title,
                                  const std::string& defaultName) = 0;

  virtual void setBusy(bool busy) = 0;
  // The current date and time as text, read at one instant: "2026-12-06" and "14:03:59".
  struct ClockText {
    std::string date, time;
  };
  virtual ClockText clockText() = 0;
  // Milliseconds on a clock that never jumps, for durations (reply times, ages).
  virtual int64_t steadyMs() = 0;
  // Milliseconds since 1970 by the system clock, for the time of day events are stamped with.
  virtual int64_t wallMs() = 0;
};

}  // namespace trv4
