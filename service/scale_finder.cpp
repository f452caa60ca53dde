#include "service/scale_finder.h"

#include <cmath>

#include "link/frame.h"
#include "link/link_stats.h"
#include "link/port_settings.h"

namespace trv4 {

namespace {

constexpr char kNak = '\x15';
constexpr const char* kFormats[] = {",E,7,1", ",N,8,1"};

bool sameSettings(const LineSettings& a, const LineSettings& b) {
  return a.baud == b.baud && a.parity == b.parity && a.dataBits == b.dataBits &&
         a.stopBits == b.stopBits;
}

std::optional<LineSettings> parsed(const std::string& text) {
  std::string error;
  return parseLineSettings(text, &error);
}

}  // namespace

ScaleFinder::ScaleFinder(ScaleLink& link, SerialPort& port, Toolkit& toolkit, LinkState& state,
                         MonitorModel& monitor, const DisplaySettings& display)
    : link_(link), port_(port), state_(state), monitor_(monitor), display_(display) {
  timer_ = toolkit.createTimer([this] {
    timer_->setEnabled(false);
    if (onProgress) onProgress();
    next();
  });
}

ScaleFinder::~ScaleFinder() {
  onProgress = nullptr;
  onFinished = nullptr;
  cancel();
}

int ScaleFinder::replyTimeoutMs(int baud) {
  const double charMs = 10000.0 / std::max(baud, 50);  // 7E1 and 8N1: 10 bits a character
  constexpr int kRequestAndReply = 8 + 13;
  return 30 + static_cast<int>(std::ceil(kRequestAndReply * charMs * 1.5));
}

std::string ScaleFinder::start(bool everyRate) {
  if (running_) return "A search is running";
  if (!port_.portOpen()) return "The port is not open";
  ownSettings_ = port_.settings();
  settings_.assign(1, ownSettings_);
  if (everyRate) {
    const std::optional<LineSettings> own = parsed(ownSettings_);
    for (const char* baud : kOfferedBauds) {
      for (const char* format : kFormats) {
        const std::string text = std::string(baud) + format;
        if (own && sameSettings(*own, *parsed(text))) continue;
        settings_.push_back(text);
      }
    }
  }
  found_ = {};
  step_ = 0;
  retried_ = false;
  lastAsked_ = -1;
  restoreError_.reset();
  running_ = true;
  link_.suspend([this] { onReceive(); });
  next();
  return "";
}

void ScaleFinder::next() {
  while (running_ && step_ < stepsTotal()) {
    const int address = step_ % kMaxScales;
    if (address != lastAsked_) retried_ = false;
    lastAsked_ = address;
    const std::string& settings = settings_[step_ / kMaxScales];
    if (address == 0 && !retried_) {
      // A rate the device refuses is passed over as a whole.
      if (settings != port_.settings() && port_.setSettings(settings)) {
        step_ += kMaxScales;
        continue;
      }
      const std::optional<LineSettings> line = parsed(settings);
      timeoutMs_ = replyTimeoutMs(line ? line->baud : 9600);
    }
    ++step_;
    port_.input();  // what is still waiting answers an earlier request
    rx_.clear();
    const std::string head = std::string(1, STX) + scaleAddress(address) + "?0";
    sent_ = head + FrameBcc(head) + ETX;
    port_.setRThreshold(1);
    port_.output(sent_);
    timer_->restart(timeoutMs_);
    return;
  }
  if (running_) finish();
}

void ScaleFinder::onReceive() {
  if (!running_ || step_ == 0 || port_.commEvent() != kCommEventReceive) return;
  rx_ += port_.input();
  const int address = (step_ - 1) % kMaxScales;
  for (;;) {
    const std::size_t stx = rx_.find(STX);
    if (stx == std::string::npos) {
      rx_.clear();
      break;
    }
    const std::size_t etx = rx_.find(ETX, stx);
    if (etx == std::string::npos) {
      rx_.erase(0, stx);
      break;
    }
    const std::string frame = rx_.substr(stx, etx - stx + 1);
    rx_.erase(0, etx + 1);
    // The line's echo of the request, or another scale's frame: not an answer.
    if (frame == sent_ || frame.size() < 6 || frame[1] != scaleAddress(address)) continue;
    FoundScale& f = found_[address];
    if (!blockCheckHolds(frame)) {
      // Something answers, garbled: the address is asked once more before it is given up.
      if (!retried_) {
        retried_ = true;
        timer_->setEnabled(false);
        --step_;
        next();
        return;
      }
      if (!f.answered) f.shown = "bad block check";
      continue;
    }
    f.answered = true;
    f.settings.push_back(settings_[(step_ - 1) / kMaxScales]);
    if (f.shown.empty()) {
      if (frame[2] == kNak) {
        f.shown = "NAK";
      } else if (frame[2] == '?' && frame.size() > 8) {
        PanelView view;
        applyDisplayRule(frame.substr(3, frame.size() - 6), state_.UnitFlag, display_.StepCombo,
                         view);
        f.shown = view.text;
        if (view.netVisible) f.shown += "  Net";
        if (view.motionVisible) f.shown += "  " + view.motionText;
      }
    }
    timer_->setEnabled(false);
    if (onProgress) onProgress();
    next();
    return;
  }
  if (rx_.size() > kRxBufferLimit) rx_.clear();
}

void ScaleFinder::cancel() {
  if (running_) finish();
}

void ScaleFinder::finish() {
  running_ = false;
  timer_->setEnabled(false);
  rx_.clear();
  if (port_.settings() != ownSettings_) {
    restoreError_ = port_.setSettings(ownSettings_);
  }
  link_.resume();
  if (onProgress) onProgress();
  if (onFinished) onFinished();
}

bool ScaleFinder::pollFound() {
  if (running_) return false;
  std::array<int, kMaxScales> list{};
  bool any = false;
  for (int i = 0; i < kMaxScales; ++i) {
    list[i] = found_[i].answered ? 1 : 0;
    any = any || found_[i].answered;
  }
  if (!any) return false;
  std::array<int, kMaxScales> previous{};
  for (int i = 0; i < kMaxScales; ++i) previous[i] = state_.ScanList[i];
  previous_ = previous;
  monitor_.setScanList(list);
  return true;
}

bool ScaleFinder::undo() {
  if (running_ || !previous_) return false;
  monitor_.setScanList(*previous_);
  previous_.reset();
  return true;
}

}  // namespace trv4
