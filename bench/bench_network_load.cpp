// trv4-bench-network-load: what the plant's clients can do to the polling. trv4-gateway and then
// the program (offscreen, both windows) each poll four scales A-D of trv4-scalesim (2 ms replies,
// no character times: about 108 status requests a second to each scale), with HTTP (token set)
// and the Modbus TCP server on, started under the usual limit of 1,024 descriptors. The journal
// is filled with 1,000 captures first. Then each case's clients run in a process of their own
// (bench/load_clients), one case at a time, and the benchmark compares a quiet window just before
// the case with the case itself:
//   - scale A's status requests a second as the simulator received them, replies the program did
//     not take at once (from the simulator's log), and the time-outs and wrong-address frames the
//     program counted (its /metrics);
//   - resident memory (VmRSS) quiet against the peak under the case, read every 100 ms;
//   - fresh clients' GET /healthz spread over the case, each on a connection of its own: the share
//     answered 200 within 1 s;
//   - the program's CPU under the case, and how long after the case HTTP answers 200 again.
// A case's window runs from its clients' start until HTTP answers again (at most 10 s after their
// end), so what a case leaves behind counts in it. Every case gets a fresh line with a copy of
// the journal, so none inherits what the one before left.
// The quiet windows also give the CPU per exchange with the plant services on and idle.
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/load_clients.h"
#include "bench/program_line.h"
#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

using namespace trv4::scalesim;
using trv4::bench::LoadTarget;
using trv4::bench::quantile;

namespace {

const std::vector<std::string> kSimulator{"--scales", "A-D", "--load", "A=25"};
const char kToken[] = "bench-token-0123456789abcdef";
constexpr rlim_t kDescriptors = 1024;

// While it lives, children forked get the usual soft limit of 1,024 descriptors; the benchmark's
// own limit comes back after.
class DescriptorLimit {
 public:
  DescriptorLimit() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lower = saved_;
    lower.rlim_cur = std::min(kDescriptors, saved_.rlim_max);
    setrlimit(RLIMIT_NOFILE, &lower);
  }
  ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;

 private:
  rlimit saved_{};
};

const char* const kJournalFiles[] = {"TRV4CAP.DB", "TRV4CAP.DB-wal", "TRV4CAP.DB-shm",
                                     "TRV4CAP.SEQ"};

// One line: the simulator and the gateway (or the program) in a folder of their own, with a copy
// of the journal in folder `journal` when that is not empty.
struct Line {
  Line(std::string name, const std::string& program, const std::string& journal)
      : name(std::move(name)),
        httpPort(trv4::test::freeTcpPort()),
        modbusPort(trv4::test::freeTcpPort()),
        sim(dir, kSimulator) {
    writeFile(dir.file("TRV4.INI"), iniText("1111"));
    writeFile(dir.file("TRV4NET.INI"),
              "[modbus]\nenabled=true\nport=" + std::to_string(modbusPort) +
                  "\n[http]\nenabled=true\nport=" + std::to_string(httpPort) + "\ntoken=" + kToken +
                  "\n");
    for (const char* file : kJournalFiles)
      if (!journal.empty() && std::filesystem::exists(journal + "/" + file))
        std::filesystem::copy_file(journal + "/" + file, dir.file(file));
    std::vector<std::string> args;
    if (program == gatewayPath()) args = {"--dir", dir.path()};
    DescriptorLimit limit;
    proc = std::make_unique<Process>(program, args, dir.path(),
                                     std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"},
                                     "program.out");
  }
  std::string name;
  int httpPort, modbusPort;
  TempDir dir;
  Simulator sim;
  std::unique_ptr<Process> proc;
};

void runFor(double seconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < seconds * 1000)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

QUrl url(int port, const char* path) {
  return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(path)));
}

// GET /healthz from a fresh client (a connection of its own from `from`); done(true) when
// answered 200 within 1 s, done(false) otherwise, in at most 1 s.
void probeHealth(int port, std::function<void(bool)> done,
                 const QHostAddress& from = QHostAddress::LocalHost) {
  struct Probe {
    QTcpSocket* socket = new QTcpSocket;
    QElapsedTimer clock;
    QByteArray said;
    std::function<void(bool)> done;
    void end(bool good) {
      if (!done) return;
      socket->disconnect();
      socket->deleteLater();
      std::exchange(done, nullptr)(good);
    }
  };
  auto p = std::make_shared<Probe>();
  p->done = std::move(done);
  p->clock.start();
  QTcpSocket* socket = p->socket;
  QObject::connect(socket, &QTcpSocket::connected, [socket, port] {
    socket->write("GET /healthz HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                  "\r\nConnection: close\r\n\r\n");
  });
  QObject::connect(socket, &QTcpSocket::readyRead, [p] {
    p->said.append(p->socket->readAll());
    if (p->said.contains("\r\n"))
      p->end(p->said.startsWith("HTTP/1.1 200 ") && p->clock.elapsed() <= 1000);
  });
  QObject::connect(socket, &QTcpSocket::disconnected, [p] { p->end(false); });
  QObject::connect(socket, &QTcpSocket::errorOccurred, [p] { p->end(false); });
  QTimer::singleShot(1000, socket, [p] { p->end(false); });
  socket->bind(from);
  socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
}

// Milliseconds until a fresh client's GET /healthz is answered 200, trying one after another
// for at most limitMs; -1 when none was. meanwhile() runs every 20 ms or so while it waits.
double healthyAfterMs(
    int port, int limitMs, const std::function<void()>& meanwhile = [] {}) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < limitMs) {
    int result = -1;
    probeHealth(port, [&result](bool good) { result = good; });
    while (result < 0) {
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
      meanwhile();
    }
    if (result == 1) return static_cast<double>(clock.elapsed());
    runFor(0.1);
    meanwhile();
  }
  return -1;
}

// The program's own count of time-outs and wrong-address frames over all scales, from /metrics;
// -1 each when it did not answer within 3 s.
struct LinkCounts {
  long timeouts = -1, wrongAddress = -1;
};

LinkCounts readCounts(int port) {
  QNetworkAccessManager nam;
  QNetworkRequest request(url(port, "/metrics"));
  request.setTransferTimeout(3000);
  QNetworkReply* reply = nam.get(request);
  QElapsedTimer clock;
  clock.start();
  while (!reply->isFinished() && clock.elapsed() < 3500)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  LinkCounts counts;
  if (reply->isFinished() && reply->error() == QNetworkReply::NoError) {
    counts = {0, 0};
    std::istringstream in(reply->readAll().toStdString());
    std::string line;
    while (std::getline(in, line)) {
      const long value = std::atol(line.c_str() + line.rfind(' ') + 1);
      if (line.starts_with("trv4_scale_timeouts_total{")) counts.timeouts += value;
      if (line.starts_with("trv4_scale_bad_frames_total{") &&
          line.find("kind=\"wrong_address\"") != std::string::npos)
        counts.wrongAddress += value;
    }
  }
  delete reply;
  return counts;
}

// Scale A's requests and the replies not taken at once between two times, from the log.
struct Polling {
  double aPerSecond = 0;
  long requests = 0;
  int late = 0;
};

Polling polling(const std::vector<LogEntry>& log, double from, double to) {
  Polling p;
  std::vector<LogEntry> window;
  for (const LogEntry& e : log) {
    if (e.at < from || e.at >= to) continue;
    window.push_back(e);
    if (e.kind != LogEntry::kRx) continue;
    ++p.requests;
    if (e.bytes.size() > 1 && e.bytes[1] == 'A') p.aPerSecond += 1;
  }
  p.aPerSecond /= to - from;
  p.late = tallyReplies(lineEvents(window)).lost();
  return p;
}

struct CaseResult {
  std::string name, clients;
  Polling quiet, load;
  long quietTimeouts = -1, timeouts = -1, wrongAddress = -1;
  long rssQuietKb = 0, rssPeakKb = 0;
  int healthy = 0, probes = 0;
  double cpuPercent = 0, backMs = -1, seconds = 0;
  double quietCpu = 0, quietSeconds = 0;
};

std::string selfPath(const char* argv0) {
  char self[4096] = {};
  const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
  return size > 0 ? std::string(self, static_cast<std::size_t>(size)) : std::string(argv0);
}

struct Options {
  std::vector<std::string> cases = trv4::bench::loadCaseNames();
  std::vector<std::string> targets{"gateway", "program"};
  double seconds = 7, quietSeconds = 2;
  int tries = 40;
  // The clients' process's nice value: 0 competes with the program as a client on this PC
  // would; 19 leaves the processor to the program, as clients on other machines do.
  int clientsNice = 0;
  // Where the fresh clients' /healthz come from: by default another address of this PC than the
  // clients' 127.0.0.1, which the server counts as another client; 127.0.0.1 shares their seats.
  QHostAddress probeFrom = QHostAddress(QStringLiteral("127.0.0.2"));
};

// True once the line polls and answers /healthz, and past its start-up.
bool started(const Line& line) {
  if (!line.sim.ready() || !waitFor([&] { return received(line.sim.log()).size() > 16; }, 10000) ||
      healthyAfterMs(line.httpPort, 10000) < 0)
    return false;
  runFor(1);
  return true;
}

// Runs the case's clients in a process of their own while measuring the line, from their start
// until the line answers /healthz again after their end (at most 10 s after it).
CaseResult runCase(Line& line, const std::string& name, const Options& o, const std::string& self) {
  CaseResult r;
  r.name = name;
  const LinkCounts before = readCounts(line.httpPort);
  const pid_t pid = line.proc->pid();
  const double q0 = monotonicSeconds(), qCpu0 = cpuSecondsFine(pid);
  long rssSum = 0, rssSamples = 0;
  while (monotonicSeconds() - q0 < o.quietSeconds) {
    runFor(0.1);
    rssSum += residentKb(pid);
    ++rssSamples;
  }
  const double q1 = monotonicSeconds(), qCpu1 = cpuSecondsFine(pid);
  r.rssQuietKb = rssSamples ? rssSum / rssSamples : 0;
  const LinkCounts atStart = readCounts(line.httpPort);

  const double l0 = monotonicSeconds(), lCpu0 = cpuSecondsFine(pid);
  Process load(self,
               {"--load", name, "--http", std::to_string(line.httpPort), "--modbus",
                std::to_string(line.modbusPort), "--token", kToken, "--seconds",
                std::to_string(o.seconds), "--nice", std::to_string(o.clientsNice)},
               line.dir.path(), {}, "load-" + name + ".out");
  // The probes' tally outlives this call should one still run (each ends within 1 s).
  struct Probes {
    int started = 0, answered = 0, healthy = 0;
  };
  auto probes = std::make_shared<Probes>();
  QTimer probeTick;
  QObject::connect(&probeTick, &QTimer::timeout, [&] {
    if (probes->started == o.tries) return;
    ++probes->started;
    probeHealth(
        line.httpPort,
        [probes](bool good) {
          ++probes->answered;
          probes->healthy += good;
        },
        o.probeFrom);
  });
  probeTick.start(static_cast<int>(o.seconds * 950 / o.tries));  // all within the case
  r.rssPeakKb = residentKb(pid);
  const auto sample = [&] { r.rssPeakKb = std::max(r.rssPeakKb, residentKb(pid)); };
  QElapsedTimer clock;
  clock.start();
  while (load.running() && clock.elapsed() < (o.seconds + 15) * 1000) {
    runFor(0.1);
    sample();
  }
  probeTick.stop();
  load.stop(SIGKILL, 2000);  // only if it overran; it ends by itself
  while (probes->answered < probes->started && clock.elapsed() < (o.seconds + 18) * 1000) {
    runFor(0.05);
    sample();
  }
  r.probes = probes->started;
  r.healthy = probes->healthy;
  r.backMs = healthyAfterMs(line.httpPort, 10000, sample);
  const double l1 = monotonicSeconds(), lCpu1 = cpuSecondsFine(pid);
  const LinkCounts after = readCounts(line.httpPort);

  const std::vector<LogEntry> log = readSimLog(line.sim.logPath());
  r.quiet = polling(log, q0, q1);
  r.load = polling(log, l0, l1);
  r.seconds = l1 - l0;
  r.cpuPercent = (lCpu1 - lCpu0) / (l1 - l0) * 100;
  if (before.timeouts >= 0 && atStart.timeouts >= 0)
    r.quietTimeouts = atStart.timeouts - before.timeouts;
  if (atStart.timeouts >= 0 && after.timeouts >= 0) {
    r.timeouts = after.timeouts - atStart.timeouts;
    r.wrongAddress = after.wrongAddress - atStart.wrongAddress;
  }
  r.quietCpu = qCpu1 - qCpu0;
  r.quietSeconds = q1 - q0;
  std::istringstream out(readFile(line.dir.file("load-" + name + ".out")));
  for (std::string said; std::getline(out, said);)
    if (!said.empty()) r.clients = said;
  if (const int status = load.exitCode(); status != 0)
    r.clients += status < 0 ? " (the clients overran and were killed)"
                            : " (the clients ended with status " + std::to_string(status) + ")";
  return r;
}

void printResults(const std::string& line, const std::vector<CaseResult>& results,
                  const Options& o) {
  std::printf(
      "\n%s: four scales A-D, 2 ms replies, HTTP and Modbus TCP on, %lu descriptors; "
      "%.0f s a case after %.0f s quiet, %d fresh GET /healthz a case\n\n",
      line.c_str(), static_cast<unsigned long>(kDescriptors), o.seconds, o.quietSeconds, o.tries);
  std::printf("%-17s %7s %7s %6s %9s %9s %5s %7s %7s %7s %8s %6s %9s\n", "case", "A/s q", "A/s",
              "%", "late q/c", "t/o q/c", "wrong", "RSS q", "peak", "+MB", "200<1s", "CPU%",
              "200 again");
  for (const CaseResult& r : results) {
    const auto count = [](long n) { return n < 0 ? std::string("-") : std::to_string(n); };
    const std::string late = std::to_string(r.quiet.late) + "/" + std::to_string(r.load.late);
    const std::string back =
        r.backMs < 0 ? "never" : std::to_string(static_cast<int>(r.backMs)) + " ms";
    const std::string healthy = std::to_string(r.healthy) + "/" + std::to_string(r.probes);
    const std::string timeouts = count(r.quietTimeouts) + "/" + count(r.timeouts);
    std::printf("%-17s %7.1f %7.1f %5.0f%% %9s %9s %5s %7.1f %7.1f %+7.1f %8s %6.1f %9s\n",
                r.name.c_str(), r.quiet.aPerSecond, r.load.aPerSecond,
                r.quiet.aPerSecond > 0 ? r.load.aPerSecond / r.quiet.aPerSecond * 100 : 0.0,
                late.c_str(), timeouts.c_str(), count(r.wrongAddress).c_str(),
                r.rssQuietKb / 1024.0, r.rssPeakKb / 1024.0, (r.rssPeakKb - r.rssQuietKb) / 1024.0,
                healthy.c_str(), r.cpuPercent, back.c_str());
  }
  std::printf(
      "(late: replies not taken at once, quiet/case;\n"
      "   t/o and wrong: the program's time-outs and wrong-address frames, quiet/case;\n"
      "   200 again: from the clients' end to a fresh client's /healthz answered 200,\n"
      "   never: not within 10 s)\n");
  std::printf("\nclients:\n");
  for (const CaseResult& r : results)
    std::printf("  %-17s %s\n", r.name.c_str(), r.clients.c_str());
  double cpu = 0, seconds = 0;
  long requests = 0;
  for (const CaseResult& r : results) {
    cpu += r.quietCpu;
    seconds += r.quietSeconds;
    requests += r.quiet.requests;
  }
  std::vector<double> quietA;
  for (const CaseResult& r : results)
    if (r.quietSeconds > 0) quietA.push_back(r.quiet.aPerSecond);
  if (!quietA.empty())
    std::printf("\nscale A in the quiet windows: median %.1f, %.1f to %.1f requests a second\n",
                quantile(quietA, 0.5), quantile(quietA, 0), quantile(quietA, 1));
  if (seconds > 0)
    std::printf(
        "\nquiet windows together: %.1f exchanges a second, %.1f %% of one core, %.0f us CPU per "
        "exchange\n",
        static_cast<double>(requests) / seconds, cpu / seconds * 100,
        requests ? cpu / static_cast<double>(requests) * 1e6 : 0.0);
  std::fflush(stdout);
}

int usage() {
  std::fprintf(stderr,
               "usage: trv4-bench-network-load [--case NAME]... [--target gateway|program] "
               "[--seconds N] [--quiet-seconds N] [--tries N] [--clients-nice 0-19] "
               "[--probe-from 127.0.0.N]\ncases:");
  for (const std::string& name : trv4::bench::loadCaseNames())
    std::fprintf(stderr, " %s", name.c_str());
  std::fprintf(stderr, "\n");
  return 2;
}

// The clients' side: --load NAME --http PORT --modbus PORT --token T --seconds N --nice N.
int runClients(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  rlimit most{};
  getrlimit(RLIMIT_NOFILE, &most);
  most.rlim_cur = most.rlim_max;
  setrlimit(RLIMIT_NOFILE, &most);
  std::string name;
  LoadTarget t;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--load") name = value;
    if (key == "--http") t.httpPort = static_cast<quint16>(std::stoi(value));
    if (key == "--modbus") t.modbusPort = static_cast<quint16>(std::stoi(value));
    if (key == "--token") t.token = QByteArray::fromStdString(value);
    if (key == "--seconds") t.seconds = std::stod(value);
    // Before any thread starts: Qt's network threads take the same value.
    if (key == "--nice") setpriority(PRIO_PROCESS, 0, std::stoi(value));
  }
  const std::string said = trv4::bench::runLoadCase(name, t);
  std::printf("%s\n", said.c_str());
  return said.empty() ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--load") == 0) return runClients(argc, argv);
  Options o;
  bool casesGiven = false, targetGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string key = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string value = argv[++i];
    if (key == "--case") {
      const auto& known = trv4::bench::loadCaseNames();
      if (std::find(known.begin(), known.end(), value) == known.end()) return usage();
      if (!casesGiven) o.cases.clear();
      casesGiven = true;
      o.cases.push_back(value);
    } else if (key == "--target" && (value == "gateway" || value == "program")) {
      if (!targetGiven) o.targets.clear();
      targetGiven = true;
      o.targets.push_back(value);
    } else if (key == "--seconds" && std::atof(value.c_str()) >= 1) {
      o.seconds = std::atof(value.c_str());
    } else if (key == "--quiet-seconds" && std::atof(value.c_str()) >= 1) {
      o.quietSeconds = std::atof(value.c_str());
    } else if (key == "--tries" && std::atoi(value.c_str()) >= 1) {
      o.tries = std::atoi(value.c_str());
    } else if (key == "--clients-nice" && std::atoi(value.c_str()) >= 0 &&
               std::atoi(value.c_str()) <= 19) {
      o.clientsNice = std::atoi(value.c_str());
    } else if (key == "--probe-from" && QHostAddress(QString::fromStdString(value)).isLoopback()) {
      o.probeFrom = QHostAddress(QString::fromStdString(value));
    } else {
      return usage();
    }
  }
  QCoreApplication app(argc, argv);
  const std::string self = selfPath(argv[0]);
  std::printf("machine load at start (1, 5, 15 min): %s", readFile("/proc/loadavg").c_str());
  for (const std::string& target : o.targets) {
    const std::string name = target == "gateway" ? "trv4-gateway" : "program, both windows";
    const std::string program = target == "gateway" ? gatewayPath() : programPath();
    // The journal's captures, taken once on a line of their own and copied into every case's.
    TempDir journal;
    {
      Line seed(name, program, "");
      if (!started(seed)) {
        std::fprintf(stderr, "trv4-bench-network-load: %s does not poll or serve HTTP\n",
                     name.c_str());
        return 1;
      }
      std::istringstream limits(readFile("/proc/" + std::to_string(seed.proc->pid()) + "/limits"));
      for (std::string row; std::getline(limits, row);)
        if (row.starts_with("Max open files")) std::printf("%s: %s\n", name.c_str(), row.c_str());
      Process prefill(self,
                      {"--load", "prefill", "--http", std::to_string(seed.httpPort), "--modbus",
                       std::to_string(seed.modbusPort), "--token", kToken, "--seconds", "60"},
                      seed.dir.path(), {}, "prefill.out");
      waitFor([&] { return !prefill.running(); }, 65000);
      std::printf("%s: journal: %s", name.c_str(), readFile(seed.dir.file("prefill.out")).c_str());
      seed.proc->stop(SIGTERM, 10000);
      for (const char* file : kJournalFiles)
        if (std::filesystem::exists(seed.dir.file(file)))
          std::filesystem::copy_file(seed.dir.file(file), journal.file(file));
    }
    std::vector<CaseResult> results;
    for (const std::string& c : o.cases) {
      Line line(name, program, journal.path());
      if (started(line)) {
        results.push_back(runCase(line, c, o, self));
      } else {
        results.push_back({});
        results.back().name = c;
        results.back().clients = "the line did not start";
      }
      std::fprintf(stderr, "%s: %s done\n", name.c_str(), c.c_str());
    }
    printResults(name, results, o);
  }
  std::printf("machine load at the end (1, 5, 15 min): %s", readFile("/proc/loadavg").c_str());
  return 0;
}
