// The program's state and start-up, without any window: the shared link state, the display
// settings, the monitor's panels, the configuration file, the scale link, the calibration
// window's logic and, while its window is open, the parameter window's logic.
#pragma once

#include <memory>
#include <string>

#include "app/config.h"
#include "base/toolkit.h"
#include "calib/calibration.h"
#include "display/display_settings.h"
#include "display/monitor_model.h"
#include "display/single_scale.h"
#include "display/weight_log.h"
#include "link/link_state.h"
#include "link/link_stats.h"
#include "link/port_reconnect.h"
#include "link/scale_link.h"
#include "link/serial_port.h"
#include "link/traffic_ring.h"
#include "params/parameters.h"
#include "service/calib_record.h"

namespace trv4 {

inline constexpr const char* kMainCaption = "TRV-4 Support Software V1.00";
// A calibration refused while the parameter window talks to a scale.
inline constexpr const char* kParamBusyMessage = "A parameter exchange is running";

class Application {
 public:
  Application(SerialPort& port, Toolkit& toolkit, std::string configPath = kConfigFileName);

  // The main window's load handler: initialises the shared link state, reads the configuration
  // file and opens the port, loads the single-scale window, then starts the scan cycle (its
  // first step 100 ms later). The monitor loads at its first use, the single-scale window's
  // first tick. False when the program must end before its window shows.
  bool MDIForm_Load();

  // "Log": starts or stops the weight log.
  void mWLog_Click() { log_.mWLog_Click(); }

  // "Single Scale": switches the check mark; the scan cycle reads it at every step.
  void mSingleScale_Click() { singleScaleChecked_ = !singleScaleChecked_; }
  bool singleScaleChecked() const { return singleScaleChecked_; }
  // The scale a calibration runs on (0..29), -1 when none. Meanwhile single-scale mode serves
  // that scale; it is switched on for it when the scale is not polled in ScanList. The check
  // mark is left as the operator set it.
  void setCalibrationTarget(int index) { calibrationTarget_ = index; }
  // "Reset", "ACK", "SYNC": queued for the address selected in the single-scale window.
  void mReset_Click();
  void mAck_Click();
  void mSYNC_Click();

  LinkState& state() { return state_; }
  DisplaySettings& displaySettings() { return display_; }
  MonitorModel& monitor() { return monitor_; }
  OneUnit& oneUnit() { return oneUnit_; }
  WeightLog& weightLog() { return log_; }
  Configuration& config() { return config_; }
  SerialPort& port() { return port_; }
  // Opens the port again when its device comes back after going away.
  const PortReconnect& reconnect() const { return reconnect_; }
  // Null until the load handler has run.
  ScaleLink* link() { return link_.get(); }
  // Every scale's exchange counters and the line's last frames, kept from start-up.
  LinkStats& linkStats() { return linkStats_; }
  TrafficRing& traffic() { return traffic_; }

  // The parameter window's logic: null while the window is closed. openParam creates it when
  // there is none; closeParam destroys it, never while an exchange waits in it (its window
  // refuses to close meanwhile). Its exchanges are refused while a calibration runs.
  Param* param() { return param_.get(); }
  Param& openParam();
  void closeParam();

  // The calibration window's logic. A procedure is refused while a parameter exchange waits, and
  // its target is served by the scan cycle while it runs.
  Calib& calib() { return *calib_; }
  // TRV4CAL.LOG, beside the configuration file: one line per calibration procedure.
  const CalibRecord& calibRecord() const { return calibRecord_; }
  // The program is quitting: a calibration waiting for the operator or the scale ends at its
  // next pass, sending nothing more.
  void quitting() { calib_->programEnding(); }

  // Why a command from outside the program (the plant's MQTT) for address ("A".."^", or "@" for
  // every scale) may not be queued now, as a clause in plain words; empty when it may. It may
  // only when it leaves at the next scan steps and disturbs nothing the operator waits on: the
  // port is open, no tool holds the line, no parameter exchange runs, no calibration runs on the
  // scale, its mailbox is empty and the cycle serves it.
  std::string remoteCommandRefusal(const std::string& address) const;

 private:
  // What the scan cycle reads from the single-scale window, as calibrations and parameter
  // operations change it: single-scale mode is on, and the address it serves.
  bool servedAlone() const;
  std::string servedSelection() const;
  bool calibrating() const { return calibrationTarget_ >= 0 && calibrationTarget_ < kMaxScales; }

  SerialPort& port_;
  Toolkit& toolkit_;
  LinkState state_;
  DisplaySettings display_;
  Configuration config_;
  MonitorModel monitor_;
  WeightLog log_;
  OneUnit oneUnit_;
  PortReconnect reconnect_;
  CalibRecord calibRecord_;
  LinkStats linkStats_;
  TrafficRing traffic_;
  bool singleScaleChecked_ = false;
  int calibrationTarget_ = -1;
  std::unique_ptr<ScaleLink> link_;
  // Last: they refer to the members above.
  std::unique_ptr<Param> param_;
  std::unique_ptr<Calib> calib_;
};

}  // namespace trv4
