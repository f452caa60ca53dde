// trv4-bench-link: runs the real program against trv4-scalesim on a pseudo-terminal and prints
// what the link achieves, read from the simulator's frame log and from /proc:
//   - exchanges per second and CPU time per exchange with instant replies, and the program's own
//     turnaround (a reply's last byte written -> the next request read by the simulator);
//   - polls per second when every character takes its time at 9600 baud 7E1, against the line's
//     own limit;
//   - CPU use while polling eight scales at the default timings, and while every request goes
//     unanswered;
//   - resident memory;
//   - the default-timings line again with a continuous weight log, with the service tools open,
//     with MQTT and Modbus TCP on, and run by trv4-gateway with and without publishing;
//   - beside each, trv4-bare-poller against a fresh simulator set up alike: the same status cycle
//     with nothing done with the replies, and the program's CPU per exchange as a multiple of it.
// Program and bare poller run side by side (in turns with instant replies, where each keeps a
// core busy), so that the machine's other load falls on both; each figure pools the rounds
// (totals over totals).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

using namespace trv4::scalesim;
using trv4::test::MqttBroker;

namespace {

struct Figures {
  bool ok = false;
  std::string why;
  double seconds = 0;
  int exchanges = 0;  // requests the scales received in the window
  int answered = 0;   // of which were followed by a reply
  double cpu = 0;     // CPU seconds of the program (or the bare poller) in the window
  std::vector<double> turnsMs;
  long rssKb = -1;

  double usPerRequest() const { return exchanges ? cpu / exchanges * 1e6 : 0.0; }
  // Another round's figures added to these.
  void pool(const Figures& r) {
    if (!r.ok) {
      ok = false;
      why = r.why;
      return;
    }
    seconds += r.seconds;
    exchanges += r.exchanges;
    answered += r.answered;
    cpu += r.cpu;
    turnsMs.insert(turnsMs.end(), r.turnsMs.begin(), r.turnsMs.end());
    rssKb = std::max(rssKb, r.rssKb);
  }
  double turnMs(int percent) const {
    if (turnsMs.empty()) return -1;
    std::vector<double> t = turnsMs;
    auto at = t.begin() + static_cast<long>(t.size() * percent / 100);
    std::nth_element(t.begin(), at, t.end());
    return *at;
  }
};

// CPU time from the scheduler's account when there is one: a bare poller's window may hold no
// more than a few clock ticks.
double cpuOf(pid_t pid) {
  double fine = cpuSecondsFine(pid);
  return fine >= 0 ? fine : cpuSeconds(pid);
}

// Whether the simulator is up and the process has begun to poll; why not otherwise.
bool polling(Session& session, std::string* why) {
  if (!session.sim.ready()) {
    *why = "simulator did not start";
    return false;
  }
  if (!waitFor([&] { return !received(session.sim.log()).empty(); }, 5000)) {
    *why = "nothing was sent";
    return false;
  }
  return true;
}

// The figures of a window from t0 to t1 in which the process used cpu seconds.
Figures tally(Session& session, double t0, double t1, double cpu) {
  Figures f;
  Process& program = session.program;
  f.rssKb = residentKb(program.pid());
  if (!program.running() || cpu < 0) {
    f.why = "the process ended";
    return f;
  }
  f.seconds = t1 - t0;
  f.cpu = cpu;
  // Walk the log: a write holding an ETX ends a reply; the next request read measures the
  // turnaround.
  double lastReplyEnd = -1;
  for (const LogEntry& e : session.sim.log()) {
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
          f.turnsMs.push_back((e.at - lastReplyEnd) * 1000);
        }
      }
      lastReplyEnd = -1;
    }
  }
  f.ok = true;
  return f;
}

// The sessions measured over one and the same window.
std::vector<Figures> measure(const std::vector<Session*>& sessions, double seconds) {
  std::vector<Figures> out(sessions.size());
  bool ok = true;
  for (std::size_t i = 0; i < sessions.size(); ++i) ok = polling(*sessions[i], &out[i].why) && ok;
  if (!ok) return out;
  sleepSeconds(0.5);  // past start-up
  std::vector<double> cpu0;
  const double t0 = monotonicSeconds();
  for (Session* s : sessions) cpu0.push_back(cpuOf(s->program.pid()));
  sleepSeconds(seconds);
  const double t1 = monotonicSeconds();
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    const double cpu1 = cpuOf(sessions[i]->program.pid());
    out[i] = tally(*sessions[i], t0, t1, cpu0[i] < 0 || cpu1 < 0 ? -1 : cpu1 - cpu0[i]);
  }
  return out;
}

// The bare poller's arguments for the program's TRV4.INI: its line settings and status timings.
const std::vector<std::string> kBareArgs = {
    "--port",          "COM1", "--scales",     "ABCDEFGH", "--settings",     "9600,N,8,1",
    "--reply-timeout", "50",   "--scan-delay", "100",      "--char-timeout", "20"};

struct Result {
  Figures program, bare;
};

// What runs in the program's place: the program itself, or a command with the program's files
// (the program driven by trv4-bench-driven, the gateway).
struct Launch {
  std::optional<Session::Command> command;
  Session::Files files;
};

// One set-up, program and bare poller each against a fresh simulator, over the rounds. Side by
// side, so that the machine's other load, which comes in bursts, falls on both alike; in turns
// where both would keep a core busy (instant replies), the order changing from round to round.
Result measureSetup(const std::vector<std::string>& simArgs, double seconds, int rounds,
                    const Launch& launch = {}, bool inTurns = false) {
  Result r;
  r.program.ok = r.bare.ok = true;
  auto program = [&] {
    return launch.command
               ? std::make_unique<Session>(simArgs, "11111111", launch.files, *launch.command)
               : std::make_unique<Session>(simArgs, "11111111", launch.files);
  };
  auto bare = [&] {
    return std::make_unique<Session>(simArgs, Session::Command{TRV4_BARE_POLLER_PATH, kBareArgs});
  };
  for (int i = 0; i < rounds; ++i) {
    if (!inTurns) {
      std::unique_ptr<Session> p = program(), b = bare();
      const std::vector<Figures> f = measure({p.get(), b.get()}, seconds);
      r.program.pool(f[0]);
      r.bare.pool(f[1]);
      continue;
    }
    for (int k = 0; k < 2; ++k) {
      const bool programNow = (i + k) % 2 == 0;
      std::unique_ptr<Session> s = programNow ? program() : bare();
      (programNow ? r.program : r.bare).pool(measure({s.get()}, seconds)[0]);
    }
  }
  return r;
}

void row(const char* name, const Result& r, const char* extra = "") {
  const Figures& f = r.program;
  if (!f.ok) {
    std::printf("%-34s  failed: %s\n", name, f.why.c_str());
    return;
  }
  std::printf("%-34s %9.1f %11.1f %10.1f %12.2f %12.2f %9ld", name, f.exchanges / f.seconds,
              f.usPerRequest(), f.cpu / f.seconds * 100, f.turnMs(50), f.turnMs(90), f.rssKb);
  const Figures& b = r.bare;
  if (!b.ok) {
    std::printf("  bare poller failed: %s", b.why.c_str());
  } else if (b.exchanges == 0 || b.cpu <= 0) {
    std::printf(" %10.1f %11s %7s %9.2f", b.exchanges / b.seconds, "-", "-", b.turnMs(50));
  } else {
    std::printf(" %10.1f %11.1f %7.1f %9.2f", b.exchanges / b.seconds, b.usPerRequest(),
                f.usPerRequest() / b.usPerRequest(), b.turnMs(50));
  }
  std::printf("  %s\n", extra);
}

// The line matrix: each case's replies, told from the simulator's log, with the program at the
// usual time-outs. The tally skips the first two rounds of polls, which share the windows' thread
// with the first painting.
struct MatrixCase {
  const char* name;
  int baud;
  std::vector<std::string> args;
  const char* scales = "A-D";
};

void matrix(double seconds) {
  const MatrixCase cases[] = {
      {"no character times", 0, {}},
      {"1200 baud", 1200, {}},
      {"2400 baud", 2400, {}},
      {"9600 baud", 9600, {}},
      {"19200 baud", 19200, {}},
      {"9600, turnaround 2-40 ms", 9600, {"--jitter", "38"}},
      {"9600, echo", 9600, {"--echo"}},
      {"9600, NAK for a third of polls", 9600, {"--fault", "nak@0.33"}},
      {"9600, echo + NAK + noise", 9600, {"--echo", "--fault", "nak@0.25", "--fault", "noise@0.2"}},
      {"9600, replies cut half-way", 9600, {"--fault", "cut@0.3"}},
      {"9600, C silent", 9600, {"--fault", "silence:C"}},
      {"9600, double frames", 9600, {"--fault", "double@0.3"}},
      {"9600, A 130 ms late, B missing", 9600, {"--reply-delay", "A=130"}, "A,C,D"},
      {"9600, bursts of 16", 9600, {"--burst", "16"}},
  };
  std::printf("\n%-34s %9s %9s %9s %9s\n", "line matrix (program, 4 scales)", "requests", "timely",
              "taken", "lost");
  for (const MatrixCase& c : cases) {
    std::vector<std::string> args = {"--scales", c.scales, "--static"};
    if (c.baud) args.insert(args.end(), {"--baud", std::to_string(c.baud), "--format", "8N1"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string settings = std::to_string(c.baud ? c.baud : 9600) + ",N,8,1";
    Session session(args, "1111", {{"TRV4.INI", iniText("1111", settings)}});
    std::string why;
    if (!polling(session, &why)) {
      std::printf("%-34s  failed: %s\n", c.name, why.c_str());
      continue;
    }
    sleepSeconds(seconds);
    std::vector<LineEvent> line = lineEvents(session.sim.log());
    for (std::size_t i = 0, polls = 0; i < line.size(); ++i) {
      if (line[i].request && ++polls == 9) {
        line.erase(line.begin(), line.begin() + static_cast<long>(i));
        break;
      }
    }
    const ReplyTally t = tallyReplies(line);
    std::printf("%-34s %9d %9d %9d %9d\n", c.name, t.exchanges, t.timely, t.taken, t.lost());
  }
  std::printf(
      "timely: answered by a whole frame from the scale asked within the time-outs; taken: of\n"
      "those, the next request followed its end byte within 15 ms; lost: timely but not taken.\n");
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  int rounds = 2;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: trv4-bench-link [--seconds N] [--rounds K]\n"
                   "  N seconds per scenario and round (default 3), K rounds (default 2)\n");
      return 2;
    }
  }
  if (seconds < 0.5) seconds = 0.5;
  if (rounds < 1) rounds = 1;
  if (access(programPath().c_str(), X_OK) != 0 || access(simulatorPath().c_str(), X_OK) != 0 ||
      access(TRV4_BARE_POLLER_PATH, X_OK) != 0) {
    std::fprintf(stderr, "trv4-bench-link: needs %s, %s (or TRV4_PROGRAM / TRV4_SCALESIM) and %s\n",
                 programPath().c_str(), simulatorPath().c_str(), TRV4_BARE_POLLER_PATH);
    return 1;
  }
  std::printf(
      "program:     %s\nsimulator:   %s\nbare poller: %s\n"
      "%.1f s per scenario and round, %d rounds, timings 50/300/100/100/20 ms\n\n",
      programPath().c_str(), simulatorPath().c_str(), TRV4_BARE_POLLER_PATH, seconds, rounds);
  std::printf("%-34s %9s %11s %10s %12s %12s %9s %10s %11s %7s %9s\n", "scenario", "req/s",
              "CPU us/req", "CPU %", "turn med ms", "turn p90 ms", "RSS kB", "bare req/s",
              "bare us/req", "ratio", "bare turn");

  Result instant =
      measureSetup({"--scales", "A-H", "--delay", "0", "--static"}, seconds, rounds, {}, true);
  row("instant replies, 8 scales", instant);

  // At 9600 baud 7E1 a character takes 10/9600 s; a poll is 7 request + 13 reply characters.
  const double lineLimit = 9600.0 / 10 / (7 + 13);
  Result paced = measureSetup(
      {"--scales", "A-H", "--delay", "0", "--static", "--baud", "9600", "--format", "7E1"}, seconds,
      rounds);
  char note[96] = "";
  if (paced.program.ok)
    std::snprintf(note, sizeof note, "%.0f%% of the line's %.1f polls/s",
                  paced.program.exchanges / paced.program.seconds / lineLimit * 100, lineLimit);
  row("9600 7E1 character time, 8 scales", paced, note);

  Result typical = measureSetup(
      {"--scales", "A-H", "--delay", "5", "--baud", "9600", "--format", "7E1"}, seconds, rounds);
  row("8 scales, 5 ms replies, 9600 7E1", typical);
  // The same line as real adapters hand it over: in groups of up to 16 characters.
  row("  the same in bursts of 16", measureSetup({"--scales", "A-H", "--delay", "5", "--baud",
                                                  "9600", "--format", "7E1", "--burst", "16"},
                                                 seconds, rounds));

  Result silent = measureSetup({"--scales", "A-H", "--fault", "silence"}, seconds, rounds);
  row("8 scales silent (time-outs only)", silent);

  // The default-timings line again, with what an operator or a plant adds to it.
  const std::vector<std::string> line{"--scales", "A-H",  "--delay",  "5",
                                      "--baud",   "9600", "--format", "7E1"};
  row("  + a continuous weight log",
      measureSetup(line, seconds, rounds,
                   {Session::Command{TRV4_DRIVEN_PATH, {"--log", "weights.log"}}, {}}));
  row("  + service tools open",
      measureSetup(line, seconds, rounds, {Session::Command{TRV4_DRIVEN_PATH, {"--tools"}}, {}}));
  MqttBroker broker;
  if (!broker.start()) {
    std::printf("mosquitto does not start: no publishing rows\n");
  } else {
    const Session::Files publishing{
        {"TRV4NET.INI",
         "[mqtt]\nenabled=true\nport=" + std::to_string(broker.port()) +
             "\n[modbus]\nenabled=true\nport=" + std::to_string(trv4::test::freeTcpPort()) + "\n"}};
    row("  + MQTT and Modbus TCP on", measureSetup(line, seconds, rounds, {{}, publishing}));
    row("  trv4-gateway, MQTT and Modbus on",
        measureSetup(line, seconds, rounds,
                     {Session::Command{gatewayPath(), {"--dir", "."}}, publishing}));
  }
  row("  trv4-gateway alone",
      measureSetup(line, seconds, rounds, {Session::Command{gatewayPath(), {"--dir", "."}}, {}}));

  std::printf(
      "\nreq/s: requests the scales received per second. CPU: the program's user+system time.\n"
      "turn: from the simulator writing a reply's last byte to it reading the next request,\n"
      "both ends of the pseudo-terminal included. bare: trv4-bare-poller, the same status cycle\n"
      "doing nothing with the replies, against a simulator set up alike. ratio: the program's\n"
      "CPU per request over the bare poller's; bare turn its median turnaround in ms. Every\n"
      "figure pools the rounds.\n");
  matrix(seconds);
  return 0;
}
