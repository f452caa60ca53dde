// trv4-gateway: polls the scales and publishes their weights without any window, for a PC
// without a screen. Ends cleanly on SIGTERM or SIGINT.
#include <cstdio>

#include <QCoreApplication>

#include "gateway/gateway.h"
#include "gateway/gateway_options.h"
#include "gateway/stop_signals.h"

int main(int argc, char** argv) {
  const trv4::ParsedGatewayOptions parsed =
      trv4::parseGatewayOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "trv4-gateway: %s\n%s", parsed.error.c_str(),
                 trv4::gatewayUsage().c_str());
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(trv4::gatewayUsage().c_str(), stdout);
    return 0;
  }
  if (parsed.options.version) {
    std::puts("trv4-gateway " TRV4_VERSION);
    return 0;
  }

  QCoreApplication qapp(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("trv4-gateway"));
  int stopSignal = 0;
  trv4::StopSignals stopSignals([&stopSignal](int signal) {
    stopSignal = signal;
    QCoreApplication::quit();
  });
  trv4::Gateway gateway(parsed.options);
  if (!gateway.start()) return 1;
  QCoreApplication::exec();
  gateway.stop();
  std::fprintf(stderr, "trv4-gateway: stopped by signal %d\n", stopSignal);
  return 0;
}
