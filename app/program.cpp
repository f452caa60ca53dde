#include "app/program.h"

namespace trv4 {

Program::Program()
    : toolkit_(QStringLiteral("TRV4")),
      app_(port_, toolkit_),
      publishing_(
          app_.monitor(), app_.state(), app_.linkStats(), toolkit_,
          [this](const std::string& address) { return app_.remoteCommandRefusal(address); }) {}

Program::~Program() {
  // The windows go at once; "offline" may still be on its way to the broker meanwhile.
  publishing_.stop();
  window_.reset();
  publishing_.awaitGoodbyes();
}

bool Program::start() {
  if (!app_.MDIForm_Load()) return false;
  weighings_ = std::make_unique<Weighings>(
      app_.monitor(), toolkit_, [this](int i) { return app_.link() && app_.link()->serves(i); },
      captureJournalPathBeside(app_.config().path()),
      JournalOptions{
          .keepDays =
              readNetSettings(netSettingsPathBeside(app_.config().path())).captures.keepDays});
  weighings_->deliverThrough(publishing_);
  window_ = std::make_unique<MainWindow>(app_, toolkit_);
  window_->setCaptures(&weighings_->desk());
  const std::string netSettings = netSettingsPathBeside(app_.config().path());
  window_->setPublishing(&publishing_, netSettings);
  window_->show();
  HttpSources sources(app_.monitor(), app_.state(), app_.linkStats(), app_.port(), toolkit_);
  sources.link = app_.link();
  sources.captures = &weighings_->desk();
  commands_ = std::make_unique<RemoteCommandGate>(app_);
  sources.commands = commands_.get();
  http_ = std::make_unique<HttpService>(publishing_, sources);
  publishing_.start(netSettings);
  return true;
}

}  // namespace trv4
