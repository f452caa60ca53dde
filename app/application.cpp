#include "app/application.h"

#include <algorithm>
#include <filesystem>

#include "base/file_names.h"
#include "base/write_signals.h"
#include "link/command_queue.h"

namespace trv4 {

namespace {

// A file in the configuration file's folder.
std::string besideConfig(const std::string& configPath, const char* name) {
  return fileNameText(filePath(configPath).parent_path() / name);
}

}  // namespace

Application::Application(SerialPort& port, Toolkit& toolkit, std::string configPath)
    : port_(port),
      toolkit_(toolkit),
      config_(state_, port, toolkit, std::move(configPath)),
      monitor_(state_, display_, [this] { config_.SaveSettings(); }),
      log_(state_, monitor_, toolkit, [this] { return oneUnit_.timer1Interval(); }),
      oneUnit_(state_, display_, monitor_, log_, toolkit),
      reconnect_(port, toolkit),
      calibRecord_(toolkit, besideConfig(config_.path(), kCalibRecordFileName)),
      linkStats_(toolkit),
      traffic_(toolkit),
      calib_(std::make_unique<Calib>(state_, display_, toolkit)) {
  // A failed write to the log, the configuration file or the port is reported, never fatal.
  keepWritesFromSignalling();
  calib_->onTarget = [this](int i) { setCalibrationTarget(i); };
  calib_->shownWeight = [this](int i) { return monitor_.panel(i).view.text; };
  calib_->onRecord = [this](const CalibRecordEntry& entry) { calibRecord_.append(entry); };
  calib_->startBlocker = [this] {
    return std::string(param_ && param_->busy() ? kParamBusyMessage : "");
  };
}

bool Application::MDIForm_Load() {
  state_.reset();
  state_.setDefaultTimings();
  if (!config_.LoadSettings()) return false;
  oneUnit_.load();
  link_ = std::make_unique<ScaleLink>(
      state_, port_, toolkit_, monitor_,
      SingleScaleSource{[this] { return servedAlone(); }, [this] { return servedSelection(); }});
  link_->addObserver(linkStats_);
  link_->addObserver(traffic_);
  return true;
}

bool Application::servedAlone() const {
  return singleScaleChecked_ || (calibrating() && !scanMarked(state_, calibrationTarget_));
}

std::string Application::servedSelection() const {
  if (calibrating()) return std::string(1, scaleAddress(calibrationTarget_));
  // A parameter operation keeps its scale served to its end.
  if (param_ && param_->exchange().held()) return param_->exchange().target();
  return display_.SingleScale;
}

std::string Application::remoteCommandRefusal(const std::string& address) const {
  const int scale = scaleIndex(address);  // -1: every scale
  if (!link_ || !port_.portOpen()) return "the serial port is closed";
  if (link_->suspended()) return "Find Scales has the line";
  if (param_ && param_->busy()) return "the parameter window is exchanging data with a scale";
  if (calibrating() && (scale < 0 || scale == calibrationTarget_))
    return "a calibration is running on the scale";
  if (scale < 0) {
    for (const std::string& queued : state_.CommandQueue)
      if (!queued.empty()) return "a command is waiting to be sent";
  } else if (!state_.CommandQueue[scale].empty() || !state_.CommandQueue[kBroadcastSlot].empty()) {
    return "the scale has a command waiting to be sent";
  }
  const int served = scaleIndex(servedSelection());
  if (servedAlone() && served >= 0) {
    if (scale < 0 || scale == served) return {};
    return calibrating()
               ? "a calibration has the line"
               : "single-scale mode (\"Single Scale\" in \"Commands\") serves another scale";
  }
  if (scale >= 0)
    return scanMarked(state_, scale)
               ? std::string()
               : "the scale is not polled (its weight is switched off in the monitor)";
  for (int i = 0; i < kMaxScales; ++i)
    if (scanMarked(state_, i)) return {};
  return "no scale is polled";
}

Param& Application::openParam() {
  if (!param_) {
    param_ = std::make_unique<Param>(state_, display_, port_, toolkit_);
    param_->exchangeBlocker = [this] {
      return std::string(calib_->running() ? kCalibBusyMessage : "");
    };
  }
  return *param_;
}

void Application::closeParam() {
  param_.reset();
}

void Application::mReset_Click() {
  QueueCommand(state_, display_.SingleScale, kResetCommand);
}
void Application::mAck_Click() {
  QueueCommand(state_, display_.SingleScale, kAckCommand);
}
void Application::mSYNC_Click() {
  QueueCommand(state_, display_.SingleScale, kSyncCommand);
}

}  // namespace trv4
