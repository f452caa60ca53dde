// trv4-bench-service: what the service tools cost on a line polled at its full rate (eight
// scales at 9600 baud answering at once, or with --instant without character times), the program
// run inside this process against trv4-scalesim. In one run, slice by slice in turn:
//   - "recorders off": the exchange counters and the traffic ring detached from the link, as a
//     program without them would run;
//   - "tools closed": both recording, every service window closed (the program as shipped);
//   - "tools open": Link Statistics, Traffic Monitor and Weight Trend (four scales ticked) open.
// For each: this process's CPU use (% of one core, quietest and median slice) and CPU per
// exchange. --minutes M then keeps every tool open for M minutes and prints resident memory
// every minute.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/program_driver.h"

using namespace trv4;
using namespace trv4::e2e;
using trv4::scalesim::monotonicSeconds;
using trv4::scalesim::requestsBetween;
using trv4::scalesim::residentKb;

namespace {

const std::vector<std::string> kLineArgs{"--scales", "A-H",    "--delay", "0",
                                         "--static", "--baud", "9600"};
const std::vector<std::string> kInstantArgs{"--scales", "A-H", "--delay", "0", "--static"};

QWidget* topLevel(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == name) return w;
  return nullptr;
}

struct Samples {
  std::vector<double> cpuPercent;
  double cpu = 0, seconds = 0;
  long requests = 0;
};

void print(const char* name, Samples s) {
  std::sort(s.cpuPercent.begin(), s.cpuPercent.end());
  std::printf("%-14s %8.2f %8.2f %9.1f %10.1f\n", name, s.cpuPercent.front(),
              s.cpuPercent[s.cpuPercent.size() / 2], s.requests / s.seconds,
              s.requests ? s.cpu / s.requests * 1e6 : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 12;
  int minutes = 0;
  bool instant = false;
  std::string only;  // object names of the windows to open, e.g. "Traffic"; empty: all
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--instant") == 0) {
      instant = true;
    } else if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) {
      minutes = std::atoi(argv[++i]);
    } else {
      std::fprintf(
          stderr,
          "usage: trv4-bench-service [--seconds N] [--instant] [--only WINDOW] [--minutes M]\n");
      return 2;
    }
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication qt(argc, argv);
  InProcessSession session(instant ? kInstantArgs : kLineArgs, "11111111");
  if (!session.failure().empty()) {
    std::fprintf(stderr, "trv4-bench-service: %s\n", session.failure().c_str());
    return 1;
  }
  Application& app = session.program.app();
  if (!runEventsUntil([&] { return app.linkStats().scale(7).replies > 0; }, 10000)) {
    std::fprintf(stderr, "trv4-bench-service: the scales do not answer\n");
    return 1;
  }
  for (const char* entry : {"mLinkStats", "mTraffic", "mWeightTrend"})
    if (QAction* a = menuEntry(session.program, entry)) click(*a);
  runEvents(0.5);
  // Four scales ticked in the trend.
  if (QWidget* trend = topLevel("WeightTrend")) {
    if (auto* list = trend->findChild<QListWidget*>()) {
      for (int i = 0; i < 4 && i < list->count(); ++i) list->item(i)->setCheckState(Qt::Checked);
    }
  }
  std::vector<QWidget*> tools;
  for (const char* name : {"LinkStats", "Traffic", "WeightTrend"})
    if (QWidget* w = topLevel(name)) {
      if (only.empty() || only.find(name) != std::string::npos) {
        tools.push_back(w);
      } else {
        w->close();
      }
    }

  ScaleLink& link = *app.link();
  enum Mode { kOff, kClosed, kOpen };
  auto setMode = [&](Mode m) {
    link.removeObserver(app.linkStats());
    link.removeObserver(app.traffic());
    if (m != kOff) {
      link.addObserver(app.linkStats());
      link.addObserver(app.traffic());
    }
    for (QWidget* w : tools) w->setVisible(m == kOpen);
    runEvents(0.2);
  };
  Samples samples[3];
  constexpr int kRounds = 5;
  const double slice = seconds / (3 * kRounds);
  for (int round = 0; round < kRounds; ++round) {
    for (Mode m : {kOff, kClosed, kOpen}) {
      setMode(m);
      const double t0 = monotonicSeconds(), cpu0 = ownCpuSeconds();
      runEvents(slice);
      const double t1 = monotonicSeconds(), cpu1 = ownCpuSeconds();
      Samples& s = samples[m];
      s.cpuPercent.push_back((cpu1 - cpu0) / (t1 - t0) * 100);
      s.cpu += cpu1 - cpu0;
      s.seconds += t1 - t0;
      s.requests += requestsBetween(session.sim.logPath(), t0, t1);
    }
  }
  std::printf("eight scales, %s; %zu tool windows; %.0f s in %d rounds\n\n",
              instant ? "instant replies" : "9600 baud, replies at once", tools.size(), seconds,
              kRounds);
  std::printf("%-14s %8s %8s %9s %10s\n", "", "CPU min%", "CPU med%", "req/s", "CPU us/req");
  print("recorders off", samples[kOff]);
  print("tools closed", samples[kClosed]);
  print("tools open", samples[kOpen]);

  if (minutes > 0) {
    setMode(kOpen);
    std::printf("\nevery tool open: resident memory\n");
    for (int m = 0; m <= minutes; ++m) {
      if (m > 0) runEvents(60);
      std::printf("  minute %2d: %ld kB\n", m, residentKb(getpid()));
      std::fflush(stdout);
    }
  }
  return 0;
}
