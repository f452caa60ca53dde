#include "app/comm_settings_model.h"

#include <cctype>
#include <iterator>
#include <string_view>

#include "base/numeric_text.h"
#include "link/port_settings.h"

namespace trv4 {

namespace {

constexpr int kPorts = 4;
constexpr const auto& kBauds = kOfferedBauds;
constexpr const char* kParities[] = {"N", "O", "E"};
constexpr const char* kDataBits[] = {"7", "8"};
constexpr const char* kStopBits[] = {"1", "2"};
constexpr int kFlows = 4;

template <std::size_t N>
int indexOf(const char* const (&values)[N], double value) {
  for (std::size_t i = 0; i < N; ++i) {
    if (numericValue(values[i]) == value) return static_cast<int>(i);
  }
  return CommSettingsModel::kNone;
}

// The character at 0-based position pos of the settings text, or an empty view past its end.
std::string_view charAt(const std::string& text, std::size_t pos) {
  if (pos >= text.size()) return {};
  return std::string_view(text).substr(pos, 1);
}

}  // namespace

int CommSettingsModel::optionCount(Group group) {
  switch (group) {
    case ComPortGroup:
      return kPorts;
    case BaudGroup:
      return static_cast<int>(std::size(kBauds));
    case ParityGroup:
      return static_cast<int>(std::size(kParities));
    case DataGroup:
      return static_cast<int>(std::size(kDataBits));
    case StopGroup:
      return static_cast<int>(std::size(kStopBits));
    case FlowGroup:
      return kFlows;
  }
  return 0;
}

CommSettingsModel::CommSettingsModel(SerialPort& port, Toolkit& toolkit,
                                     std::function<void()> saveSettings)
    : port_(port), toolkit_(toolkit), saveSettings_(std::move(saveSettings)) {
  marked_.fill(kNone);
}

void CommSettingsModel::click(Group group, int index) {
  if (group < 0 || group >= kGroupCount || index < 0 || index >= optionCount(group)) return;
  marked_[group] = index;
  switch (group) {
    case ComPortGroup:
      PortChoice = index + 1;
      break;
    case BaudGroup:
      BaudChoice = kBauds[index];
      break;
    case ParityGroup:
      ParityChoice = kParities[index];
      break;
    case DataGroup:
      DataChoice = kDataBits[index];
      break;
    case StopGroup:
      StopChoice = kStopBits[index];
      break;
    case FlowGroup:
      FlowChoice = index;
      break;
  }
}

void CommSettingsModel::load() {
  const int port = port_.commPort();
  if (port >= 1 && port <= kPorts) click(ComPortGroup, port - 1);

  // The fields after the first "," are read by position: one character each for parity, data
  // bits and stop bits, as in 9600,N,8,1. A text without "," shows no line settings.
  const std::string settings = port_.settings();
  const std::size_t p = settings.find(',');
  if (p != std::string::npos) {
    click(BaudGroup, indexOf(kBauds, numericValue(std::string_view(settings).substr(0, p))));

    const std::string_view parity = charAt(settings, p + 1);
    if (!parity.empty()) {
      const char letter =
          static_cast<char>(std::toupper(static_cast<unsigned char>(parity.front())));
      for (int i = 0; i < static_cast<int>(std::size(kParities)); ++i) {
        if (kParities[i][0] == letter) click(ParityGroup, i);
      }
    }
    click(DataGroup, indexOf(kDataBits, numericValue(charAt(settings, p + 3))));
    click(StopGroup, indexOf(kStopBits, numericValue(charAt(settings, p + 5))));
  }

  const int flow = port_.handshaking();
  if (flow >= 0 && flow < kFlows) click(FlowGroup, flow);
}

std::string CommSettingsModel::settingsChoice() const {
  return BaudChoice + "," + ParityChoice + "," + DataChoice + "," + StopChoice;
}

void CommSettingsModel::report(const std::string& what, const PortError& error) {
  if (error) toolkit_.messageBox(what + ": " + portErrorText(*error));
}

void CommSettingsModel::ok() {
  if (port_.portOpen()) {
    report("Can not close port " + std::to_string(port_.commPort()), port_.setPortOpen(false));
  }
  if (PortChoice != 0) {
    report("Can not select port " + std::to_string(PortChoice), port_.setCommPort(PortChoice));
  }
  report("Can not open port " + std::to_string(port_.commPort()), port_.setPortOpen(true));
  const std::string settings = settingsChoice();
  report("Can not set line settings " + settings, port_.setSettings(settings));
  report("Can not set flow control", port_.setHandshaking(FlowChoice));
  if (saveSettings_) saveSettings_();
}

}  // namespace trv4
