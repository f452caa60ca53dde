// The calibration window's logic (Calib): six procedures that calibrate the scale selected in the
// single-scale window, three with test weights and three from load-cell signals in mV/V. Each
// runs to its end inside the call that started it; its waits yield to the event loop on every
// pass, so the scan cycle sends its commands and files the scale's status meanwhile, and the
// window's buttons, keys and Timer1 end the waits.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/toolkit.h"
#include "display/display_settings.h"
#include "link/link_state.h"

namespace trv4 {

inline constexpr int kCalibTimerInterval = 250;  // Timer1, ms
inline constexpr int kCalibBarMax = 30000;       // PBar maximum: the time limit in ms
inline constexpr int kCalibInputLength = 5;      // AskTxt's maximum length as loaded
// How long a procedure that ends waits for the command it queued last to leave, in ms.
inline constexpr int kCalibSendLimit = 3000;

// Refused while a procedure waits: a second one would share the window and Answer.
inline constexpr const char* kCalibBusyMessage = "A calibration is already running";

// What the window shows; the widget renders it. Default values are the loaded state.
struct CalibView {
  bool shown = false;
  std::string caption = "Calibration";
  std::string askLbl;  // lines separated by CR
  std::string askTxt;
  bool askTxtVisible = false;
  bool askTxtEnabled = true;
  bool askTxtFocus = false;
  int askTxtMaxLength = kCalibInputLength;
  bool startVisible = false;
  bool stopVisible = false;
  std::string label1 = "Key in weight as it is shown on display without the decimal point";
  bool label1Visible = false;
  int pbarValue = 0;
  bool pbarVisible = false;

  bool operator==(const CalibView&) const = default;
};

// One calibration procedure as it ran, for the calibration record: written when it ends.
struct CalibRecordEntry {
  std::string date, time;  // when it started
  char address = 'A';
  std::string procedure;                  // the window's caption, "Weight Span Calibration"
  std::string keyed;                      // the numbers accepted, as sent, separated by blanks
  std::string outcome;                    // one of the kOutcome texts, or the error message shown
  std::string weightBefore, weightAfter;  // the monitor's text for the scale
};

inline constexpr const char* kOutcomeFinished = "finished";
inline constexpr const char* kOutcomeTimeLimit = "time limit";
inline constexpr const char* kOutcomeStopped = "stopped";
inline constexpr const char* kOutcomeClosed = "window closed";
inline constexpr const char* kOutcomeProgramEnded = "program ended";
// The last command could not leave (the port gone) and was taken back.
inline constexpr const char* kOutcomeNotSent = "not sent";

class Calib {
 public:
  // Creates Timer1: disabled, 250 ms.
  Calib(LinkState& state, const DisplaySettings& settings, Toolkit& toolkit);
  ~Calib();
  Calib(const Calib&) = delete;
  Calib& operator=(const Calib&) = delete;

  // The procedures, one per menu entry. Each does nothing for "@" and refuses to start while
  // another one waits.
  void WZeroCalib();
  void WSpanCalib();
  void WCornerCalib();
  void EZeroCalib();
  void ESpanCalib();
  void ECornerCalib();

  // Operator events. A hidden button or a hidden or disabled box takes nothing.
  void StartCmd_Click();
  void StopCmd_Click();
  // True when the key reaches the box. "." and "," are refused (message, box emptied); Enter
  // ends the wait as Start does.
  bool AskTxt_KeyPress(char key);
  // The box's text after typing or pasting, kept whole (the box itself holds typing to its
  // maximum length); a text with a "." or "," is refused as the key is. False when refused or the
  // box takes no input.
  bool setAskTxt(const std::string& text);
  // The window's frame closed: a waiting procedure ends at its next pass, as with Stop, and
  // sends nothing more; one waiting for the operator ends without going on.
  void close();
  // The program ends: as close(), recorded as such.
  void programEnding();

  void Timer1_Timer();

  // A procedure is running (the window is loaded).
  bool running() const { return running_; }
  const CalibView& view() const { return view_; }
  int16_t Answer() const { return answer_; }
  Timer& Timer1() { return *timer1_; }

  // Runs after the view changed, so a widget can repaint.
  std::function<void()> onChanged;
  // Called with the target's index when a procedure starts and with -1 when it ends, so the
  // scan cycle can make sure the scale is served meanwhile.
  std::function<void(int)> onTarget;
  // Why no procedure may start now (shown to the operator), empty when one may.
  std::function<std::string()> startBlocker;
  // What the monitor shows for scale i, for the record; empty when unset.
  std::function<std::string(int)> shownWeight;
  // Every procedure that started, as it ends.
  std::function<void(const CalibRecordEntry&)> onRecord;

 private:
  enum class Watch { Ended, Next };
  class Session;

  // Choosing the scale: loads and shows the window with the title; false for "@" or busy.
  bool choose(const char* title);
  void closing();
  // Operator wait; false when the window was closed meanwhile.
  bool operatorWait();
  // Reading a number: the accepted digits padded to `width`, or "" when the window was closed
  // meanwhile.
  std::string readNumber(const std::string& hint, int maxLength, int width);
  void prepareInput(const std::string& hint, int maxLength);
  void waitingDisplay();
  void operatorPrompt(const std::string& prompt);
  void send(const std::string& command, bool clearCommandReply);
  void queue(const std::string& command);
  // Closing: the command queued last, while still waiting, is given up to kCalibSendLimit to
  // leave while the scale is still served, then taken back, so nothing of a closed procedure is
  // sent later. Closing the frame ends this wait too.
  void deliverLast();
  // The command last sent, when it is still queued, is taken back.
  void takeBack();
  // Waits until the command sent has left, then drops the status filed meanwhile. Stop, the
  // time limit and closing end the wait too (a closed port would hold the command for ever),
  // taking the command back; false then.
  bool commandLeft();
  // Status watch: yields, then `test` on each pass, while Answer is 0.
  void watch(const std::function<Watch()>& test);
  // The first reason a procedure ends is the one recorded.
  void settle(const char* outcome) {
    if (record_.outcome.empty()) record_.outcome = outcome;
  }
  std::string weightShown() const { return shownWeight ? shownWeight(target_) : std::string(); }
  // Watches A and B of the zero and span calibrations.
  void weightWatches();
  // The message, the acknowledge queued, Answer 1.
  Watch errorCheck(const char* message);
  void changed();

  // Pieces of the target's status text.
  const std::string& status() const { return state_.StatusReply[target_]; }
  bool textBit() const;
  std::string display() const;       // characters 2 to 7
  std::string shortDisplay() const;  // characters 2 to 6

  LinkState& state_;
  const DisplaySettings& settings_;
  Toolkit& toolkit_;
  std::unique_ptr<Timer> timer1_;
  std::unique_ptr<Timer> sendTimer_;  // bounds deliverLast
  bool sendExpired_ = false;
  CalibView view_;
  int16_t answer_ = 0;
  std::string sent_;  // the procedure's command last sent
  int target_ = 0;
  bool running_ = false;
  CalibRecordEntry record_;
};

// The number the operator keyed for a field of `width` digits, with leading zeros ("123" gives
// "00123" for 5); "" when refused: anything but plain digits (blanks around them aside), more
// digits than the field, or a value below 1.
std::string keyedNumber(const std::string& keyed, int width);

}  // namespace trv4
