#include "app/program.h"

namespace trv4 {

Program::Program()
    : toolkit_(QStringLiteral("TRV4")),
      app_(port_, toolkit_),
      publishing_(app_.monitor(), app_.state(), app_.linkStats(), toolkit_) {}

Program::~Program() = default;

bool Program::start() {
  if (!app_.MDIForm_Load()) return false;
  window_ = std::make_unique<MainWindow>(app_, toolkit_);
  const std::string netSettings = netSettingsPathBeside(app_.config().path());
  window_->setPublishing(&publishing_, netSettings);
  window_->show();
  HttpSources sources(app_.monitor(), app_.state(), app_.linkStats(), app_.port(), toolkit_);
  sources.link = app_.link();
  // No capture desk or command gate is given yet: captures and commands by HTTP answer 503.
  http_ = std::make_unique<HttpService>(publishing_, sources);
  publishing_.start(netSettings);
  return true;
}

}  // namespace trv4
