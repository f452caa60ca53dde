// The logic of the communication settings dialog: which option of each group is marked, the
// choice values the option clicks set, and what OK does to the serial port and the file.
// The Qt dialog only renders this model and forwards the clicks.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "base/toolkit.h"
#include "link/serial_port.h"

namespace trv4 {

class CommSettingsModel {
 public:
  // The option groups, one per frame of the dialog.
  enum Group { ComPortGroup, BaudGroup, ParityGroup, DataGroup, StopGroup, FlowGroup };
  static constexpr int kGroupCount = 6;
  static constexpr int kNone = -1;

  // Option values of each group, in the order of the dialog's option buttons:
  // Com1..Com4; 600..115200; None, Odd, Even; 7, 8; 1, 2; None, Xon/Xoff, RTS, Xon/RTS.
  static int optionCount(Group group);

  // saveSettings rewrites the configuration file from the port's state (SaveSettings).
  CommSettingsModel(SerialPort& port, Toolkit& toolkit, std::function<void()> saveSettings);

  // Marks the options that show the port's current state; each marking raises the option's
  // click, so the choice values follow. A value no option shows leaves its group unmarked.
  void load();

  // The click of option `index` of a group: marks it and sets that group's choice value.
  // An index outside the group is ignored.
  void click(Group group, int index);

  // The option marked in a group, or kNone.
  int marked(Group group) const { return marked_[group]; }

  // Closes the port, selects the chosen port, opens it, sets the line settings and handshaking
  // and rewrites the configuration file, in this order. A failing step is reported in a message
  // box and the next step runs all the same. With no port option marked (the port's number has
  // no option) the port keeps its number.
  void ok();

  // The settings text OK gives the port, e.g. "19200,E,7,1".
  std::string settingsChoice() const;

  // The choice values, set only by the option clicks; empty or 0 until then.
  int PortChoice = 0;
  std::string BaudChoice;
  std::string ParityChoice;
  std::string DataChoice;
  std::string StopChoice;
  int FlowChoice = 0;

 private:
  void report(const std::string& what, const PortError& error);

  SerialPort& port_;
  Toolkit& toolkit_;
  std::function<void()> saveSettings_;
  std::array<int, kGroupCount> marked_;
};

}  // namespace trv4
