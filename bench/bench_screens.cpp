// trv4-bench-screens: runs the program inside this process (offscreen unless QT_QPA_PLATFORM says
// otherwise) against trv4-scalesim at 9600 baud 7E1 with 5 ms replies, and prints what its windows
// and the weight log cost:
//   - the main window with the monitor and the single-scale window, eight scales polled;
//   - the same with a continuous weight log (a line every 25 ms tick), started through the menu;
//   - no scale polled: the single-scale window's 25 ms mirror over a panel that never changes.
// For each: this process's CPU use, the requests the scales received per second (from the
// simulator's log), log lines per second and resident memory. --log-minutes M runs the log for M
// minutes and prints resident memory every minute.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/simulator_check.h"
#include "tests/support/program_driver.h"

using namespace trv4::e2e;
using trv4::scalesim::monotonicSeconds;
using trv4::scalesim::requestsBetween;
using trv4::scalesim::residentKb;
using trv4::scalesim::simulatorPath;

namespace {

// A pseudo-terminal runs 8N1 whatever the program asks for; --format paces every character at
// 10 bits, as 7E1 takes on a real line.
const std::vector<std::string> kSimArgs{"--scales", "A-H", "--baud",  "9600",
                                        "--format", "7E1", "--delay", "5"};
constexpr const char* kAllEight = "11111111";
constexpr const char* kNone = "0";
constexpr double kWarmUp = 0.5;

long selfResidentKb() {
  return residentKb(getpid());
}

// Lines in a file (line feeds counted); 0 when it cannot be read.
long linesIn(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  long lines = 0;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    for (size_t i = 0; i < n; ++i) lines += buffer[i] == '\n';
  }
  std::fclose(file);
  return lines;
}

// The program running against the simulator, windows shown, optionally logging.
class Run {
 public:
  Run(const std::string& scan, bool log) : session_(kSimArgs, scan) {
    if (!session_.failure().empty()) {
      why_ = session_.failure();
      return;
    }
    auto* oneUnit = session_.program.window()->findChild<QWidget*>(QStringLiteral("OneUnit"));
    if (!runEventsUntil(
            [&] {
              return session_.program.window()->isVisible() && oneUnit && oneUnit->isVisible();
            },
            3000)) {
      why_ = "the windows did not show";
      return;
    }
    if (scan != kNone &&
        !runEventsUntil([&] { return requests(0, monotonicSeconds() + 1) > 0; }, 5000)) {
      why_ = "the program sent nothing";
      return;
    }
    if (log) {
      QAction* entry = menuEntry(session_.program, "mWLog");
      if (entry == nullptr) {
        why_ = "no \"Log\" menu entry";
        return;
      }
      logPath_ = session_.dir.file("weights.log");
      click(*entry, {QString::fromStdString(logPath_), QStringLiteral("0")});
      if (!session_.program.app().weightLog().LogActive()) {
        why_ = "the log did not start";
        return;
      }
    }
    runEvents(kWarmUp);
  }

  ~Run() {
    // Stops the log as the operator does; the closing message is answered.
    if (session_.program.app().weightLog().LogActive()) {
      click(*menuEntry(session_.program, "mWLog"));
    }
  }

  bool ok() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  long requests(double from, double to) const {
    return requestsBetween(session_.sim.logPath(), from, to);
  }
  // Log lines so far; -1 without a log.
  long logLines() const { return logPath_.empty() ? -1 : linesIn(logPath_); }

 private:
  InProcessSession session_;
  std::string logPath_;
  std::string why_;
};

struct Figures {
  std::string why;  // empty when measured
  double seconds = 0;
  double cpu = 0;     // this process's CPU seconds in the window
  long requests = 0;  // requests the scales received in the window
  long lines = -1;    // log lines written in the window; -1 without a log
  long rssKb = -1;
};

// Runs the event loop for `seconds` and reads the figures of that window. The program does
// nothing while the files are read: everything runs on this one thread.
Figures measure(const Run& run, double seconds) {
  Figures f;
  const long lines0 = run.logLines();
  const double t0 = monotonicSeconds(), cpu0 = ownCpuSeconds();
  runEvents(seconds);
  const double t1 = monotonicSeconds(), cpu1 = ownCpuSeconds();
  f.rssKb = selfResidentKb();
  f.seconds = t1 - t0;
  f.cpu = cpu1 - cpu0;
  f.requests = run.requests(t0, t1);
  if (lines0 >= 0) f.lines = run.logLines() - lines0;
  return f;
}

// The machine's other work comes in bursts: the scenario is measured in five slices, and the
// quietest slice and the median are shown.
constexpr int kSlices = 5;

struct Scenario {
  Figures total;         // the whole window
  double minCpu = 0;     // % of one core, quietest slice
  double medianCpu = 0;  // % of one core, median slice
};

Scenario scenario(const std::string& scan, bool log, double seconds) {
  Scenario s;
  Run run(scan, log);
  if (!run.ok()) {
    s.total.why = run.why();
    return s;
  }
  std::vector<double> cpu;
  for (int i = 0; i < kSlices; ++i) {
    const Figures f = measure(run, seconds / kSlices);
    cpu.push_back(f.cpu / f.seconds * 100);
    s.total.seconds += f.seconds;
    s.total.cpu += f.cpu;
    s.total.requests += f.requests;
    s.total.lines = f.lines < 0 ? -1 : std::max(s.total.lines, 0L) + f.lines;
    s.total.rssKb = f.rssKb;
  }
  std::sort(cpu.begin(), cpu.end());
  s.minCpu = cpu.front();
  s.medianCpu = cpu[kSlices / 2];
  return s;
}

void row(const char* name, const Scenario& s) {
  const Figures& f = s.total;
  if (!f.why.empty()) {
    std::printf("%-36s  failed: %s\n", name, f.why.c_str());
    return;
  }
  char lines[32] = "-";
  if (f.lines >= 0) std::snprintf(lines, sizeof lines, "%.1f", f.lines / f.seconds);
  std::printf("%-36s %8.2f %8.2f %8.1f %12s %9ld\n", name, s.minCpu, s.medianCpu,
              f.requests / f.seconds, lines, f.rssKb);
}

void logMinutes(int minutes) {
  std::printf("continuous weight log for %d min, 8 scales polled, both windows shown\n\n", minutes);
  std::printf("%6s %9s %8s %8s %9s\n", "minute", "RSS kB", "CPU %", "req/s", "lines/s");
  Run run(kAllEight, true);
  if (!run.ok()) {
    std::printf("failed: %s\n", run.why().c_str());
    return;
  }
  const long first = selfResidentKb();
  std::printf("%6d %9ld\n", 0, first);
  long last = first;
  for (int minute = 1; minute <= minutes; ++minute) {
    const Figures f = measure(run, 60);
    std::printf("%6d %9ld %8.2f %8.1f %9.1f\n", minute, f.rssKb, f.cpu / f.seconds * 100,
                f.requests / f.seconds, f.lines / f.seconds);
    std::fflush(stdout);
    last = f.rssKb;
  }
  std::printf("\nresident memory %+ld kB over the run (%ld -> %ld kB)\n", last - first, first,
              last);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  double seconds = 5;
  int minutes = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--log-minutes") == 0 && i + 1 < argc) {
      minutes = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: trv4-bench-screens [--seconds N] [--log-minutes M]\n"
                   "  --seconds N      N seconds per scenario (default 5)\n"
                   "  --log-minutes M  only a continuous log for M minutes, memory every minute\n");
      return 2;
    }
  }
  if (seconds < 0.5) seconds = 0.5;
  if (!trv4::bench::simulatorThere("trv4-bench-screens")) return 1;
  QApplication qapp(argc, argv);
  std::printf(
      "simulator: %s, platform %s\n8 scales, 9600 baud 7E1 character time, 5 ms replies\n\n",
      simulatorPath().c_str(), qPrintable(QApplication::platformName()));

  if (minutes > 0) {
    logMinutes(minutes);
    return 0;
  }

  std::printf("%.1f s per scenario after %.1f s warm-up\n\n", seconds, kWarmUp);
  std::printf("%-36s %8s %8s %8s %12s %9s\n", "scenario", "CPU min", "CPU med", "req/s",
              "log lines/s", "RSS kB");
  const Scenario shown = scenario(kAllEight, false, seconds);
  row("both windows, 8 scales polled", shown);
  const Scenario logging = scenario(kAllEight, true, seconds);
  row("the same, continuous weight log", logging);
  const Scenario idle = scenario(kNone, false, seconds);
  row("nothing changes: no scale polled", idle);

  if (shown.total.why.empty() && logging.total.why.empty() && logging.total.lines > 0) {
    const double perLine = (logging.minCpu - shown.minCpu) / 100 /
                           (static_cast<double>(logging.total.lines) / logging.total.seconds);
    std::printf("\nthe log's own CPU (quietest slices): about %.0f us per line\n", perLine * 1e6);
  }
  std::printf(
      "\nCPU: this process's user+system time in %% of one core (program and windows, the\n"
      "simulator excluded), in the quietest and the median of %d slices. req/s: status\n"
      "requests the scales received per second.\n"
      "Each log line is flushed and synced to the disk as it is written.\n",
      kSlices);
  return 0;
}
