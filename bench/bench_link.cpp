// trv4-bench-link: runs the real program against trv4-scalesim on a pseudo-terminal and prints
// what the link achieves, read from the simulator's frame log and from /proc:
//   - exchanges per second and CPU time per exchange with instant replies, and the program's own
//     turnaround (a reply's last byte written -> the next request read by the simulator);
//   - polls per second when every character takes its time at 9600 baud 7E1, against the line's
//     own limit;
//   - CPU use while polling eight scales at the default timings, and while every request goes
//     unanswered;
//   - resident memory.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/scalesim/sim_session.h"

using namespace trv4::scalesim;

namespace {

struct Figures {
  bool ok = false;
  std::string why;
  double seconds = 0;
  int exchanges = 0;  // requests the scales received in the window
  int answered = 0;   // of which were followed by a reply
  double cpu = 0;     // program CPU seconds in the window
  double medianTurnMs = -1, p90TurnMs = -1;
  long rssKb = -1;
};

Figures measure(const std::vector<std::string>& simArgs, const std::string& scan, double seconds) {
  Figures f;
  Session session(simArgs, scan);
  Simulator& sim = session.sim;
  Process& program = session.program;
  if (!sim.ready()) {
    f.why = "simulator did not start";
    return f;
  }
  if (!waitFor([&] { return !received(sim.log()).empty(); }, 5000)) {
    f.why = "program sent nothing";
    return f;
  }
  sleepSeconds(0.5);  // past start-up
  double t0 = monotonicSeconds(), cpu0 = cpuSeconds(program.pid());
  sleepSeconds(seconds);
  double t1 = monotonicSeconds(), cpu1 = cpuSeconds(program.pid());
  f.rssKb = residentKb(program.pid());
  if (!program.running() || cpu0 < 0 || cpu1 < 0) {
    f.why = "program ended";
    return f;
  }
  f.seconds = t1 - t0;
  f.cpu = cpu1 - cpu0;
  // Walk the log: a write holding an ETX ends a reply; the next request read measures the
  // program's turnaround.
  std::vector<double> turns;
  double lastReplyEnd = -1;
  for (const LogEntry& e : sim.log()) {
    if (e.kind == LogEntry::kTx && e.bytes.find('\x03') != std::string::npos &&
        e.bytes.find('?', 0) != std::string::npos) {
      lastReplyEnd = e.at;
    } else if (e.kind == LogEntry::kTx && e.bytes.size() == 1) {
      if (e.bytes[0] == '\x03') lastReplyEnd = e.at;  // paced output: one byte per write
    } else if (e.kind == LogEntry::kRx) {
      if (e.at >= t0 && e.at <= t1) {
        ++f.exchanges;
        if (lastReplyEnd >= 0) {
          ++f.answered;
          turns.push_back((e.at - lastReplyEnd) * 1000);
        }
      }
      lastReplyEnd = -1;
    }
  }
  if (!turns.empty()) {
    std::sort(turns.begin(), turns.end());
    f.medianTurnMs = turns[turns.size() / 2];
    f.p90TurnMs = turns[turns.size() * 9 / 10];
  }
  f.ok = true;
  return f;
}

void row(const char* name, const Figures& f, const char* extra = "") {
  if (!f.ok) {
    std::printf("%-34s  failed: %s\n", name, f.why.c_str());
    return;
  }
  double rate = f.exchanges / f.seconds;
  std::printf("%-34s %9.1f %11.1f %10.1f %12.2f %12.2f %9ld  %s\n", name, rate,
              f.exchanges ? f.cpu / f.exchanges * 1e6 : 0.0, f.cpu / f.seconds * 100,
              f.medianTurnMs, f.p90TurnMs, f.rssKb, extra);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: trv4-bench-link [--seconds N]   (N seconds per scenario)\n");
      return 2;
    }
  }
  if (seconds < 0.5) seconds = 0.5;
  if (access(programPath().c_str(), X_OK) != 0 || access(simulatorPath().c_str(), X_OK) != 0) {
    std::fprintf(stderr, "trv4-bench-link: needs %s and %s (or TRV4_PROGRAM / TRV4_SCALESIM)\n",
                 programPath().c_str(), simulatorPath().c_str());
    return 1;
  }
  std::printf("program:   %s\nsimulator: %s\n%.1f s per scenario, timings 50/300/100/100/20 ms\n\n",
              programPath().c_str(), simulatorPath().c_str(), seconds);
  std::printf("%-34s %9s %11s %10s %12s %12s %9s\n", "scenario", "req/s", "CPU us/req", "CPU %",
              "turn med ms", "turn p90 ms", "RSS kB");

  Figures instant = measure({"--scales", "A-H", "--delay", "0", "--static"}, "11111111", seconds);
  row("instant replies, 8 scales", instant);

  // At 9600 baud 7E1 a character takes 10/9600 s; a poll is 7 request + 13 reply characters.
  const double lineLimit = 9600.0 / 10 / (7 + 13);
  Figures paced =
      measure({"--scales", "A-H", "--delay", "0", "--static", "--baud", "9600", "--format", "7E1"},
              "11111111", seconds);
  char note[96] = "";
  if (paced.ok)
    std::snprintf(note, sizeof note, "%.0f%% of the line's %.1f polls/s",
                  paced.exchanges / paced.seconds / lineLimit * 100, lineLimit);
  row("9600 7E1 character time, 8 scales", paced, note);

  Figures typical =
      measure({"--scales", "A-H", "--delay", "5", "--baud", "9600", "--format", "7E1"}, "11111111",
              seconds);
  row("8 scales, 5 ms replies, 9600 7E1", typical);

  Figures silent = measure({"--scales", "A-H", "--fault", "silence"}, "11111111", seconds);
  row("8 scales silent (time-outs only)", silent);

  std::printf(
      "\nreq/s: requests the scales received per second. CPU: the program's user+system time.\n"
      "turn: from the simulator writing a reply's last byte to it reading the next request,\n"
      "both ends of the pseudo-terminal included.\n");
  return 0;
}
