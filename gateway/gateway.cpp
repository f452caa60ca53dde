#include "gateway/gateway.h"

#include <filesystem>

#include "base/file_names.h"
#include "link/port_reconnect.h"
#include "net/publishing.h"

namespace trv4 {

Gateway::Gateway(const GatewayOptions& options, std::FILE* messages)
    : options_(options),
      toolkit_(messages),
      port_(DeviceFolders{options.dir, "/dev"}),
      app_(port_, toolkit_, fileNameText(filePath(options.dir) / kConfigFileName)) {
  port_.setOpenGuard(
      [this](int port, const std::string& device) { return deviceClaim_(port, device); });
}

Gateway::~Gateway() {
  stop();
}

bool Gateway::start() {
  const std::string netPath = netSettingsPathBeside(app_.config().path());
  const auto tell = [this](const std::string& text) { toolkit_.messageBox(text); };
  if (!takeClaims(startClaims(options_.dir, readNetSettings(netPath)), claims_, tell)) return false;
  if (!app_.MDIForm_Load()) return false;
  if (!options_.logFile.empty() && !app_.weightLog().start(options_.logFile, options_.logInterval))
    return false;
  // Timer1 mirrors the single-scale panel and runs the log: with no window and no log it would
  // only wake the gateway 40 times a second.
  if (options_.logFile.empty()) app_.oneUnit().Timer1().setEnabled(false);
  // The traffic record is read only by the program's Traffic Monitor.
  app_.link()->removeObserver(app_.traffic());

  std::string polled;
  for (int i = 0; i < kMaxScales; ++i) {
    if (scanMarked(app_.state(), i)) polled += scaleAddress(i);
  }
  toolkit_.messageBox("Port " + std::to_string(port_.commPort()) + " (" +
                      port_.deviceText(port_.commPort()) + ") at " + port_.settings() +
                      ", polling " + (polled.empty() ? std::string("no scale") : polled) +
                      (options_.logFile.empty() ? "" : ", logging to " + options_.logFile));
  if (!port_.portOpen()) {
    // The program leaves this to the operator's settings dialog; nobody opens one here.
    openTimer_ = toolkit_.createTimer([this] { tryOpenPort(); });
    openTimer_->setInterval(kReconnectInterval);
    tryOpenPort();
  }
  commands_ = std::make_unique<RemoteCommandGate>(app_);
  plant_ = std::make_unique<PlantServices>(
      PlantParts{app_.monitor(), app_.state(), app_.linkStats(), port_, *app_.link(), toolkit_,
                 [this](const std::string& address) { return app_.remoteCommandRefusal(address); },
                 *commands_, app_.config().path()});
  plant_->start();
  return true;
}

void Gateway::tryOpenPort() {
  const PortError error = port_.setPortOpen(true);
  if (!error) {
    openTimer_->setEnabled(false);
    if (openFailureTold_)
      toolkit_.messageBox("Port " + std::to_string(port_.commPort()) + " is open.");
    return;
  }
  openTimer_->setEnabled(true);
  if (openFailureTold_) return;
  openFailureTold_ = true;
  if (error->code == PortFailureCode::kHeldByAnotherGateway) {
    toolkit_.messageBox(portErrorText(*error) +
                        "; this gateway waits for it and polls once that one has ended.");
    return;
  }
  toolkit_.messageBox("Port " + std::to_string(port_.commPort()) + " cannot be opened: " +
                      portErrorText(*error) + ". The gateway keeps trying every second.");
}

void Gateway::stop() {
  if (plant_) plant_->stop();
  app_.weightLog().stop();
  plant_.reset();  // "offline" reaches the broker before the gateway ends
}

}  // namespace trv4
