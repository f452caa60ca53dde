// trv4-bench-params: the parameter window's exchanges against trv4-scalesim at 9600 baud 7E1
// (8 scales polled, default timings), the program run in this process: how long a full upload
// and each download take in the normal cycle and in single-scale mode, and the CPU an upload
// uses while it gets no answers (its waits must sleep).

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "params/parameters.h"
#include "tests/support/program_driver.h"

using namespace trv4::e2e;
using trv4::scalesim::monotonicSeconds;

namespace {

const std::vector<std::string> kSimArgs{"--scales", "A-H", "--baud",  "9600",
                                        "--format", "7E1", "--delay", "5"};

struct Timing {
  double seconds = 0, cpuPercent = 0;
  bool quiet = true;  // no message shown
};

// Runs one operation of the window's logic; the window's boxes are answered.
Timing timed(const std::function<void()>& operation) {
  ModalAnswerer answerer;
  const size_t boxes = answerer.boxes().size();
  const double t0 = monotonicSeconds(), c0 = ownCpuSeconds();
  operation();
  Timing t;
  t.seconds = monotonicSeconds() - t0;
  t.cpuPercent = (ownCpuSeconds() - c0) / t.seconds * 100;
  t.quiet = answerer.boxes().size() == boxes;
  return t;
}

void row(const char* name, const Timing& t) {
  std::printf("%-44s %8.0f ms %8.2f %%  %s\n", name, t.seconds * 1000, t.cpuPercent,
              t.quiet ? "" : "(a message was shown)");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  InProcessSession s(kSimArgs, "11111111");
  if (!s.failure().empty()) {
    std::fprintf(stderr, "trv4-bench-params: %s\n", s.failure().c_str());
    return 1;
  }
  runEvents(1.0);
  trv4::Application& app = s.program.app();
  std::printf("8 scales polled, 9600 baud 7E1 character time, 5 ms replies, default timings\n\n");
  std::printf("%-44s %11s %10s\n", "operation on scale B", "time", "CPU");
  for (bool single : {false, true}) {
    if (single != app.singleScaleChecked()) app.mSingleScale_Click();
    app.oneUnit().selectScale("B");
    trv4::Param param(app.state(), app.displaySettings(), app.port(), s.program.toolkit());
    const char* mode = single ? "single-scale mode" : "normal cycle";
    std::string name = std::string("upload, ") + mode;
    row(name.c_str(), timed([&] { param.UploadParam(); }));
    name = std::string("download weight parameters, ") + mode;
    row(name.c_str(), timed([&] { param.Command3_Click(); }));
    name = std::string("download operational parameters, ") + mode;
    row(name.c_str(), timed([&] { param.Command4_Click(); }));
  }
  // Scale "K" is not polled and not on the line: every wait runs into its time-out. With the
  // other scales polled, then with none, so that only the waits remain.
  app.mSingleScale_Click();
  app.oneUnit().selectScale("K");
  trv4::Param silent(app.state(), app.displaySettings(), app.port(), s.program.toolkit());
  row("upload without answers, 8 scales polled", timed([&] { silent.UploadParam(); }));
  app.state().ScanList.fill(0);
  runEvents(0.5);
  row("upload without answers, nothing polled", timed([&] { silent.UploadParam(); }));
  std::printf(
      "\ntime: wall clock of the whole operation. CPU: this process's user+system time over it,\n"
      "in %% of one core (the program's scan cycle and windows included).\n");
  return 0;
}
