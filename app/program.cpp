#include "app/program.h"

namespace trv4 {

Program::Program() : toolkit_(QStringLiteral("TRV4")), app_(port_, toolkit_) {}

Program::~Program() {
  // The windows go at once; "offline" may still be on its way to the broker meanwhile.
  if (plant_) plant_->stop();
  window_.reset();
  plant_.reset();
}

bool Program::start() {
  if (!app_.MDIForm_Load()) return false;
  commands_ = std::make_unique<RemoteCommandGate>(app_);
  plant_ = std::make_unique<PlantServices>(PlantParts{
      app_.monitor(), app_.state(), app_.linkStats(), app_.port(), *app_.link(), toolkit_,
      [this](const std::string& address) { return app_.remoteCommandRefusal(address); }, *commands_,
      app_.config().path()});
  window_ = std::make_unique<MainWindow>(app_, toolkit_);
  window_->setCaptures(&plant_->weighings().desk());
  window_->setPublishing(&plant_->publishing(), plant_->netSettingsPath());
  window_->show();
  plant_->start();
  return true;
}

}  // namespace trv4
