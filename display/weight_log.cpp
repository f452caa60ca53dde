#include "display/weight_log.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "base/disk_sync.h"
#include "base/file_names.h"
#include "base/numeric_text.h"

namespace trv4 {

namespace {

constexpr const char* kTitle = "Weight Log";
constexpr const char* kIntervalPrompt =
    "S T A R T   W E I G H T   L O G\nLog interval in seconds (0=Continuous)";

// Nearest 32-bit integer, halves to the even one; false when v does not fit.
bool toInt32(double v, int32_t* out) {
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double r = std::nearbyint(v);
  std::fesetround(saved);
  if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max())) {
    return false;
  }
  *out = static_cast<int32_t>(r);
  return true;
}

// A display text is written as it was received, but a control character (a line end above all)
// would break the line into pieces: each one is written as "?".
void appendField(std::string& line, const std::string& text) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    line += (u < 0x20 || u == 0x7F) ? '?' : c;
  }
  line += ';';
}

bool blank(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

WeightLog::WeightLog(LinkState& state, MonitorModel& monitor, Toolkit& toolkit,
                     std::function<int()> timerInterval)
    : state_(state),
      monitor_(monitor),
      toolkit_(toolkit),
      timerInterval_(std::move(timerInterval)) {}

WeightLog::~WeightLog() {
  sync_.reset();
  if (file_ != nullptr) std::fclose(file_);
}

std::string WeightLog::defaultFileName() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  return fileNameText(error ? std::filesystem::path(".") : folder) +
         static_cast<char>(std::filesystem::path::preferred_separator) + kLogFileName;
}

void WeightLog::mWLog_Click() {
  if (LogActive()) {
    stop();
    toolkit_.messageBox("Weight Log Finished");
    return;
  }

  const std::string fileName = toolkit_.fileNameBox("Log File Name", kTitle, defaultFileName());
  if (fileName.empty()) return;
  const std::string answer = toolkit_.inputBox(kIntervalPrompt, kTitle, "0");
  if (answer.empty()) return;
  const double value = numericValue(answer);
  int32_t seconds = 0;
  if (!toInt32(value, &seconds)) {
    if (value > 0) toolkit_.messageBox("LOG INTERVAL TOO LARGE");
    return;
  }
  if (seconds < 0) return;
  start(fileName, seconds);
}

bool WeightLog::start(const std::string& fileName, int32_t seconds) {
  if (LogActive()) stop();
  // A name of blanks only names no file anybody could find again.
  std::FILE* file = blank(fileName) ? nullptr : createOrEmptyFile(fileName);
  if (file == nullptr) {
    toolkit_.messageBox("CAN NOT WRITE LOG FILE");
    return false;
  }
  file_ = file;
  sync_ = std::make_unique<DiskSync>(fileno(file_));
  const int interval = timerInterval_ ? timerInterval_() : 0;
  logTicks_ = interval > 0 ? 1000.0 / interval * seconds : 0.0;
  if (onActiveChanged) onActiveChanged(true);
  if (onStarted) onStarted();
  return true;
}

void WeightLog::stop() {
  if (!LogActive()) return;
  sync_.reset();
  std::fclose(file_);
  file_ = nullptr;
  if (onActiveChanged) onActiveChanged(false);
}

std::string WeightLog::line() {
  std::string text;
  const Toolkit::ClockText now = toolkit_.clockText();
  appendField(text, now.date);
  appendField(text, now.time);
  const int count = std::min(std::max(state_.ScaleCount, 0), kMaxScales);
  for (int i = 0; i < count; ++i) {
    if (state_.ScanList[i] == 0) continue;
    const PanelView& view = monitor_.read(i).view;
    appendField(text, view.text);
    appendField(text, view.netVisible ? "N" : "G");
    appendField(text, view.motionVisible ? view.motionText : "");
  }
  return text + "\r\n";
}

bool WeightLog::step() {
  if (!LogActive()) return false;
  if (logCountdown_ >= 1) {
    --logCountdown_;
    return false;
  }

  // Each line goes to the file as soon as it is written, and on to the disk a moment later
  // without holding up the windows: a crash loses at most the line being written, a power cut
  // at most that or the lines of the last DiskSync::kSpacing.
  const std::string text = line();
  bool ok = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
  ok = std::fflush(file_) == 0 && ok && !sync_->failed();
  if (ok) sync_->request();
  if (!ok) {
    // Lines that cannot be written are not lost silently: the log stops and says so.
    stop();
    toolkit_.messageBox("CAN NOT WRITE LOG FILE - Weight Log Stopped");
    return false;
  }

  if (!toInt32(logTicks_, &logCountdown_)) logCountdown_ = std::numeric_limits<int32_t>::max();
  return true;
}

}  // namespace trv4
