#include "calib/calibration.h"

#include <algorithm>

#include "base/numeric_text.h"
#include "link/command_queue.h"

namespace trv4 {

namespace {

constexpr const char* kPleaseWait = "Please Wait ...";
constexpr const char* kCalLock = "Calibration Lock";
constexpr const char* kWeightResolution = "Not Enought Resolution";
constexpr const char* kElectronicResolution = "Not Enough Resolution";
constexpr const char* kSpanHint =
    "Key in weight as it is shown on display without the decimal point";
constexpr const char* kSignalHint =
    "Key in value without the decimal point eg. 0.2712mV/V-->002712";
constexpr const char* kCapacityHint =
    "Key in weight as it is shown on display without the decimal point eg. 50kg l/c and 2 decimal "
    "points --> 05000";
constexpr const char* kEmptyScale = "Empty Scale and press button";

}  // namespace

std::string keyedNumber(const std::string& keyed, int width) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const auto first = std::find_if_not(keyed.begin(), keyed.end(), blank);
  const auto last = std::find_if_not(keyed.rbegin(), keyed.rend(), blank).base();
  if (first >= last || last - first > width) return {};
  std::string digits(first, last);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return {};
  if (digits.find_first_not_of('0') == std::string::npos) return {};  // below 1
  digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  return digits;
}

// One procedure's window: loaded by choosing the scale, closed when the procedure returns.
class Calib::Session {
 public:
  Session(Calib& c, const char* title) : c_(c), open_(c.choose(title)) {}
  ~Session() {
    if (open_) c_.closing();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  explicit operator bool() const { return open_; }

 private:
  Calib& c_;
  bool open_;
};

Calib::Calib(LinkState& state, const DisplaySettings& settings, Toolkit& toolkit)
    : state_(state), settings_(settings), toolkit_(toolkit) {
  timer1_ = toolkit_.createTimer([this] { Timer1_Timer(); });
  timer1_->setInterval(kCalibTimerInterval);
  sendTimer_ = toolkit_.createTimer([this] { sendExpired_ = true; });
}

Calib::~Calib() = default;

void Calib::changed() {
  if (onChanged) onChanged();
}

bool Calib::textBit() const {
  return !status().empty() && (static_cast<unsigned char>(status()[0]) & 1) != 0;
}

std::string Calib::display() const {
  return status().size() > 1 ? status().substr(1, 6) : std::string();
}

std::string Calib::shortDisplay() const {
  return status().size() > 1 ? status().substr(1, 5) : std::string();
}

bool Calib::choose(const char* title) {
  // "@" does nothing at all, whatever else runs.
  const int i = scaleIndex(settings_.SingleScale);
  if (i < 0) return false;
  if (running_) {
    toolkit_.messageBox(kCalibBusyMessage);
    return false;
  }
  if (startBlocker) {
    if (const std::string why = startBlocker(); !why.empty()) {
      toolkit_.messageBox(why);
      return false;
    }
  }
  // Read once: a selection changed meanwhile does not move the calibration to another scale.
  target_ = i;
  running_ = true;
  const Toolkit::ClockText now = toolkit_.clockText();
  record_ = CalibRecordEntry{now.date, now.time, scaleAddress(i), title, {}, {}, weightShown(), {}};
  answer_ = 0;
  sent_.clear();
  view_ = CalibView{};
  view_.caption = title;
  view_.shown = true;
  if (onTarget) onTarget(i);
  changed();
  return true;
}

void Calib::closing() {
  deliverLast();
  settle(kOutcomeFinished);
  record_.weightAfter = weightShown();
  if (onRecord) onRecord(record_);
  timer1_->setEnabled(false);
  view_ = CalibView{};
  answer_ = 0;
  running_ = false;
  if (onTarget) onTarget(-1);
  changed();
}

void Calib::close() {
  if (!view_.shown) return;
  settle(kOutcomeClosed);
  answer_ = 1;
  view_.shown = false;
  changed();
}

void Calib::programEnding() {
  if (view_.shown) settle(kOutcomeProgramEnded);
  close();
}

void Calib::deliverLast() {
  const std::string& queued = state_.CommandQueue[target_];
  if (sent_.empty() || queued != sent_) return;
  view_.askLbl = kPleaseWait;
  view_.startVisible = view_.stopVisible = false;
  view_.askTxtEnabled = false;
  changed();
  sendExpired_ = false;
  sendTimer_->restart(kCalibSendLimit);
  while (queued == sent_ && !sendExpired_ && view_.shown) toolkit_.yield();
  sendTimer_->setEnabled(false);
  if (queued == sent_) settle(kOutcomeNotSent);
  takeBack();
}

bool Calib::operatorWait() {
  timer1_->setEnabled(false);
  answer_ = 0;
  while (answer_ == 0 && view_.shown) toolkit_.yield();
  return view_.shown;
}

void Calib::prepareInput(const std::string& hint, int maxLength) {
  view_.label1 = hint;
  view_.label1Visible = true;
  view_.startVisible = true;
  view_.askTxtVisible = true;
  view_.askTxtFocus = true;
  if (maxLength > 0) view_.askTxtMaxLength = maxLength;
  view_.askTxt.clear();
  view_.askTxtEnabled = true;
  changed();
}

std::string Calib::readNumber(const std::string& hint, int maxLength, int width) {
  prepareInput(hint, maxLength);
  for (;;) {
    if (!operatorWait()) return {};
    if (std::string digits = keyedNumber(view_.askTxt, width); !digits.empty()) {
      record_.keyed += (record_.keyed.empty() ? "" : " ") + digits;
      return digits;
    }
    toolkit_.messageBox("Wrong input data");
  }
}

void Calib::operatorPrompt(const std::string& prompt) {
  view_.askLbl = prompt;
  view_.pbarVisible = false;
  view_.stopVisible = false;
  view_.startVisible = true;
  timer1_->setEnabled(false);
  changed();
}

void Calib::waitingDisplay() {
  view_.askLbl = kPleaseWait;
  view_.pbarValue = 0;
  view_.pbarVisible = true;
  view_.startVisible = false;
  view_.stopVisible = true;
  answer_ = 0;
  // Started afresh: the time limit counts from here.
  timer1_->setEnabled(false);
  timer1_->setEnabled(true);
  changed();
}

void Calib::send(const std::string& command, bool clearCommandReply) {
  state_.StatusReply[target_].clear();
  if (clearCommandReply) state_.CommandReply[target_].clear();
  queue(command);
}

void Calib::queue(const std::string& command) {
  state_.CommandQueue[target_] = command;
  sent_ = command;
}

void Calib::takeBack() {
  std::string& queued = state_.CommandQueue[target_];
  if (!sent_.empty() && queued == sent_) queued.clear();
}

bool Calib::commandLeft() {
  while (!state_.CommandQueue[target_].empty() && answer_ == 0) toolkit_.yield();
  if (answer_ != 0) {
    takeBack();
    return false;
  }
  // A status poll may have been on the line when the command was queued: its reply, filed
  // since, tells of the scale before the command.
  state_.StatusReply[target_].clear();
  return true;
}

void Calib::watch(const std::function<Watch()>& test) {
  while (answer_ == 0) {
    toolkit_.yield();
    if (test() == Watch::Ended) return;
  }
  // Ended by Stop, the time limit or closing: a command that has not left yet stays unsent.
  takeBack();
}

Calib::Watch Calib::errorCheck(const char* message) {
  settle(message);
  toolkit_.messageBox(message);
  // Acknowledged; the procedure ends, and closing sees the acknowledge leave.
  queue(kAckCommand);
  answer_ = 1;
  return Watch::Ended;
}

void Calib::Timer1_Timer() {
  const int step = timer1_->interval();
  if (kCalibBarMax < view_.pbarValue + step) {
    if (answer_ == 0) settle(kOutcomeTimeLimit);
    answer_ = 1;
  } else {
    view_.pbarValue += step;
    changed();
  }
}

void Calib::StartCmd_Click() {
  if (view_.shown && view_.startVisible) answer_ = 1;
}

void Calib::StopCmd_Click() {
  if (!view_.shown || !view_.stopVisible) return;
  if (answer_ == 0) settle(kOutcomeStopped);
  answer_ = 1;
}

bool Calib::AskTxt_KeyPress(char key) {
  if (!view_.shown || !view_.askTxtVisible || !view_.askTxtEnabled) return false;
  if (key == '.' || key == ',') {
    toolkit_.messageBox("DECIMAL POINT NOT ALLOWED");
    view_.askTxt.clear();
    changed();
    return false;
  }
  if (key == '\r') {
    answer_ = 1;
    return false;
  }
  return true;
}

bool Calib::setAskTxt(const std::string& text) {
  if (!view_.shown || !view_.askTxtVisible || !view_.askTxtEnabled) return false;
  if (text.find_first_of(".,") != std::string::npos) {
    toolkit_.messageBox("DECIMAL POINT NOT ALLOWED");
    view_.askTxt.clear();
    changed();
    return false;
  }
  // Kept whole: a text longer than the field is refused at Start rather than cut to another
  // number.
  view_.askTxt = text;
  changed();
  return true;
}

// Weight calibrations.

void Calib::weightWatches() {
  if (!commandLeft()) return;
  // Watch A, the scale takes the command.
  watch([&] { return status().size() < 5 || textBit() ? Watch::Ended : Watch::Next; });
  if (answer_ == 1) return;
  // Watch B, the scale calibrates: a weight again ends it.
  watch([&] {
    if (status().size() <= 5) return Watch::Next;
    if (!textBit()) return Watch::Ended;
    if (display() == "ERR 91") return errorCheck(kCalLock);
    if (display() == "ERR 90") return errorCheck(kWeightResolution);
    return Watch::Next;
  });
}

void Calib::WZeroCalib() {
  Session session(*this, "Weight Zero Calibration");
  if (!session) return;
  operatorPrompt(kEmptyScale);
  if (!operatorWait()) return;
  waitingDisplay();
  send("a", true);
  weightWatches();
}

void Calib::WSpanCalib() {
  Session session(*this, "Weight Span Calibration");
  if (!session) return;
  view_.askLbl = "Add Load, Key in weight and press button";
  const std::string digits = readNumber(kSpanHint, 0, 5);
  if (digits.empty()) return;
  waitingDisplay();
  send("b" + digits, true);
  view_.askTxtEnabled = false;
  changed();
  weightWatches();
}

void Calib::WCornerCalib() {
  Session session(*this, "Weight Corner Calibration");
  if (!session) return;
  operatorPrompt(kEmptyScale);
  if (!operatorWait()) return;
  waitingDisplay();
  send("c0", true);
  if (!commandLeft()) return;
  // Watch 1, the scale asks for the first corner.
  watch([&] {
    if (status().size() <= 6) return Watch::Next;
    if (shortDisplay() == "CORN.") return Watch::Ended;
    if (display() == "ERR 91") return errorCheck(kCalLock);
    return Watch::Next;
  });
  // The scale names each corner it wants; it shows a weight again after the last.
  while (answer_ == 0) {
    const char n = status().size() > 6 ? status()[6] : ' ';
    operatorPrompt(std::string("Place Load on Corner ") + n + " and press button");
    if (!operatorWait()) return;
    waitingDisplay();
    send(std::string("c") + n, false);
    if (!commandLeft()) return;
    state_.CommandReply[target_].clear();
    // Watch 3, the scale leaves the corner request.
    watch([&] {
      return status().size() < 5 || shortDisplay() != "CORN." ? Watch::Ended : Watch::Next;
    });
    if (answer_ == 1) return;
    // Watch 4, the scale calibrates the corner.
    watch([&] {
      if (status().size() <= 6) return Watch::Next;
      if (!textBit()) {
        answer_ = 1;
        return Watch::Ended;
      }
      if (shortDisplay() == "CORN.") return Watch::Ended;
      if (display() == "ERR 91") return errorCheck(kCalLock);
      if (display() == "ERR 90") return errorCheck(kWeightResolution);
      return Watch::Next;
    });
  }
}

// Electronic calibrations.

void Calib::EZeroCalib() {
  Session session(*this, "Electronic Zero Calibration");
  if (!session) return;
  view_.askLbl = "Insert Scale Zero in mVolts/Volt\rand press button";
  const std::string digits = readNumber(kSignalHint, 6, 6);
  if (digits.empty()) return;
  // No answer is awaited: closing sees the command leave.
  queue("A" + digits);
}

void Calib::ESpanCalib() {
  Session session(*this, "Electronic Span Calibration");
  if (!session) return;
  view_.askLbl = "Key in the one Loadcell Rated Capacity\rand press button";
  const std::string digits = readNumber(kCapacityHint, 5, 5);
  if (digits.empty()) return;
  queue("B" + digits);
}

void Calib::ECornerCalib() {
  Session session(*this, "Electronic Corner Calibration");
  if (!session) return;
  char n = '1';
  for (;;) {
    operatorPrompt(std::string("Insert mVolts/V of Corner ") + n + " Loadcell\r and press button");
    const std::string digits = readNumber(kSignalHint, 6, 6);
    if (digits.empty()) return;
    waitingDisplay();
    send(std::string("C") + n + digits, true);
    if (!commandLeft()) return;
    if (n == '1') {
      // Watch Y: only the request for corner 2 and the calibration lock are known here.
      watch([&] {
        if (status().size() <= 6) return Watch::Next;
        if (display() == "CORN.2") return Watch::Ended;
        if (display() == "ERR 91") return errorCheck(kCalLock);
        return Watch::Next;
      });
    } else {
      // Watch X: the end, the request for the corner after n, and the resolution error.
      const std::string next =
          "CORN." + std::to_string(static_cast<long long>(numericValue(std::string(1, n))) + 1);
      watch([&] {
        if (status().size() <= 6) return Watch::Next;
        if (!textBit()) {
          answer_ = 1;
          return Watch::Ended;
        }
        if (display() == next) return Watch::Ended;
        if (display() == "ERR 90") return errorCheck(kElectronicResolution);
        return Watch::Next;
      });
    }
    if (answer_ == 1) return;
    n = status()[6];
    state_.StatusReply[target_].clear();
  }
}

}  // namespace trv4
