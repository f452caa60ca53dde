// trv4-bench-http: what the HTTP server costs. Three lines run side by side, each eight scales
// of trv4-scalesim at 9600 baud 7E1 answering after 5 ms, with moving weights:
//   - the program (offscreen) with HTTP off;
//   - the program with HTTP on and one dashboard open (a WebSocket client of the live feed);
//   - trv4-gateway with HTTP on and one dashboard open.
// Their CPU is read from /proc over the same rounds, so the machine's noise falls on all three.
// Then GET /api/v1/scales is asked of each HTTP line at 50 requests a second, every answer timed
// from the request leaving this process to the whole answer being in (Qt's network access
// manager on 127.0.0.1, its own time included), beside a bare Qt HTTP server that answers the same
// bytes as the yardstick of what the machine takes; then the resident memory of the lines with a
// dashboard open is read every few seconds for a while. Last, scale A, which keeps its load,
// is captured through POST /api/v1/scales/A/captures on each HTTP line, each answer timed against
// that scale's scan cycle as the simulator's log shows it.
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHttpServer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/program_line.h"
#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

using namespace trv4::scalesim;
using trv4::bench::ProgramLine;
using trv4::bench::quantile;

namespace {

// Scale A keeps its 25 kg (settled, for the captures); the others' loads move.
const std::vector<std::string> kLine{"--scales", "A-H",      "--delay", "5",      "--baud",
                                     "9600",     "--format", "7E1",     "--load", "A=25"};
const char kToken[] = "bench-token-0123456789abcdef";

// One line: the simulator and a program (or the gateway) in a folder of their own, and, with
// HTTP on, its dashboard.
struct Line : ProgramLine {
  Line(const std::string& name, const std::string& program, int httpPort)
      : ProgramLine(program, kLine,
                    httpPort > 0 ? "[http]\nenabled=true\nport=" + std::to_string(httpPort) +
                                       "\ntoken=" + kToken + "\n"
                                 : ""),
        name(name),
        httpPort(httpPort) {}
  std::string name;
  int httpPort;
  std::unique_ptr<QWebSocket> dashboard;
  long messages = 0;
  long long bytes = 0;
  double cpu = 0, seconds = 0;
  long requests = 0;
  std::vector<double> latencyMs;
  std::vector<long> rssKb;
};

// A server asked at 50 requests a second: a line's program, or the yardstick.
struct Target {
  Target(std::string name, int port, Process* process, Line* line)
      : name(std::move(name)), port(port), process(process), line(line) {}
  std::string name;
  int port;
  Process* process;
  Line* line;  // null for the yardstick
  double cpu0 = 0;
  int failed = 0;
  std::vector<double> latencyMs;
};

// GET /api/v1/scales of the server at port, waiting for it; empty when none came.
QByteArray readAnswer(int port) {
  QNetworkAccessManager nam;
  QNetworkReply* reply =
      nam.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1/scales").arg(port))));
  QElapsedTimer clock;
  clock.start();
  while (!reply->isFinished() && clock.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  const QByteArray body = reply->isFinished() ? reply->readAll() : QByteArray();
  delete reply;
  return body;
}

// The yardstick: a bare Qt HTTP server that answers GET /api/v1/scales with answer.json of its
// folder, as fast as Qt can, and does nothing else.
int yardstick(int argc, char** argv, quint16 port) {
  QCoreApplication app(argc, argv);
  const QByteArray answer = QByteArray::fromStdString(readFile("answer.json"));
  QHttpServer server;
  server.route("/api/v1/scales",
               [&answer] { return QHttpServerResponse("application/json", answer); });
  if (server.listen(QHostAddress::LocalHost, port) == 0) return 1;
  return QCoreApplication::exec();
}

// The median time between two requests to scale A, from the simulator's log: its scan cycle.
double scanCycleMs(const std::string& simLog) {
  std::vector<double> at;
  for (const LogEntry& e : received(readSimLog(simLog)))
    if (e.bytes.size() > 1 && e.bytes[1] == 'A') at.push_back(e.at);
  std::vector<double> gaps;
  for (std::size_t i = 1; i < at.size(); ++i) gaps.push_back((at[i] - at[i - 1]) * 1000);
  if (gaps.empty()) return -1;
  std::sort(gaps.begin(), gaps.end());
  return gaps[gaps.size() / 2];
}

void runFor(double s) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < s * 1000)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--yardstick") == 0)
    return yardstick(argc, argv, static_cast<quint16>(std::atoi(argv[2])));
  double seconds = 30, requestSeconds = 20, memorySeconds = 60;
  for (int i = 1; i < argc; ++i) {
    const auto number = [&](double* out) {
      if (i + 1 >= argc) return false;
      *out = std::atof(argv[++i]);
      return true;
    };
    if (!((std::strcmp(argv[i], "--seconds") == 0 && number(&seconds)) ||
          (std::strcmp(argv[i], "--request-seconds") == 0 && number(&requestSeconds)) ||
          (std::strcmp(argv[i], "--memory-seconds") == 0 && number(&memorySeconds)))) {
      std::fprintf(stderr,
                   "usage: trv4-bench-http [--seconds N] [--request-seconds N] "
                   "[--memory-seconds N]\n");
      return 2;
    }
  }
  QCoreApplication app(argc, argv);
  std::vector<std::unique_ptr<Line>> lines;
  lines.push_back(std::make_unique<Line>("program, HTTP off", programPath(), 0));
  lines.push_back(std::make_unique<Line>("program, HTTP on + dashboard", programPath(),
                                         trv4::test::freeTcpPort()));
  lines.push_back(std::make_unique<Line>("trv4-gateway, HTTP on + dashboard", gatewayPath(),
                                         trv4::test::freeTcpPort()));
  for (auto& l : lines) {
    if (!l->sim.ready() || !waitFor([&] { return received(l->sim.log()).size() > 16; }, 10000)) {
      std::fprintf(stderr, "trv4-bench-http: %s does not poll\n", l->name.c_str());
      return 1;
    }
    if (l->httpPort == 0) continue;
    l->dashboard = std::make_unique<QWebSocket>();
    Line* line = l.get();
    QObject::connect(l->dashboard.get(), &QWebSocket::textMessageReceived,
                     [line](const QString& m) {
                       ++line->messages;
                       line->bytes += m.size();
                     });
    l->dashboard->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/live").arg(l->httpPort)));
  }
  runFor(2);  // past start-up; the dashboards have their snapshots
  for (auto& l : lines) {
    if (l->dashboard && l->messages == 0) {
      std::fprintf(stderr, "trv4-bench-http: %s: the dashboard gets nothing\n", l->name.c_str());
      return 1;
    }
  }

  // CPU with the dashboards open, nothing else asked.
  constexpr int kRounds = 10;
  for (auto& l : lines) l->messages = l->bytes = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<double> cpu0;
    const double t0 = monotonicSeconds();
    for (auto& l : lines) cpu0.push_back(cpuSecondsFine(l->proc->pid()));
    runFor(seconds / kRounds);
    const double t1 = monotonicSeconds();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      Line& l = *lines[i];
      l.cpu += cpuSecondsFine(l.proc->pid()) - cpu0[i];
      l.seconds += t1 - t0;
      l.requests += requestsBetween(l.sim.logPath(), t0, t1);
    }
  }
  std::printf(
      "eight scales per line, 9600 baud 7E1, 5 ms replies, moving weights; CPU over %.0f s in "
      "%d rounds\n\n",
      seconds, kRounds);
  std::printf("%-36s %8s %9s %11s %14s\n", "", "CPU %", "req/s", "CPU us/req", "feed msgs/s kB/s");
  for (auto& l : lines)
    std::printf("%-36s %8.2f %9.1f %11.1f %7.1f %6.1f\n", l->name.c_str(),
                l->cpu / l->seconds * 100, l->requests / l->seconds,
                l->requests ? l->cpu / l->requests * 1e6 : 0.0, l->messages / l->seconds,
                static_cast<double>(l->bytes) / l->seconds / 1024);
  const auto percent = [](const Line& l) { return l.cpu / l.seconds * 100; };
  std::printf("\nHTTP on with a dashboard, program: %+.2f percentage points of one core\n",
              percent(*lines[1]) - percent(*lines[0]));

  // GET /api/v1/scales at 50 requests a second on each HTTP line and, as the yardstick of what the
  // machine itself takes, on a bare Qt HTTP server in a process of its own that answers the same
  // bytes and does nothing else; all at the same ticks, so they share the machine's state.
  const int yardstickPort = trv4::test::freeTcpPort();
  char self[4096] = {};
  const ssize_t selfSize = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string program = selfSize > 0 ? std::string(self, selfSize) : std::string(argv[0]);
  TempDir yardstickDir;
  writeFile(yardstickDir.file("answer.json"), readAnswer(lines[1]->httpPort).toStdString());
  Process yardstickProcess(program, {"--yardstick", std::to_string(yardstickPort)},
                           yardstickDir.path(), {}, "yardstick.out");
  std::vector<Target> targets;
  for (auto& l : lines)
    if (l->httpPort != 0) targets.emplace_back(l->name, l->httpPort, l->proc.get(), l.get());
  targets.emplace_back("bare Qt HTTP server, same answer", yardstickPort, &yardstickProcess,
                       nullptr);
  if (!waitFor([&] { return !readAnswer(yardstickPort).isEmpty(); }, 10000)) {
    std::fprintf(stderr, "trv4-bench-http: the yardstick server does not answer\n");
    return 1;
  }
  QNetworkAccessManager nam;
  const int total = static_cast<int>(requestSeconds * 50);
  int sent = 0;
  for (Target& t : targets) t.cpu0 = cpuSecondsFine(t.process->pid());
  const double t0 = monotonicSeconds();
  QTimer pace;
  pace.setTimerType(Qt::PreciseTimer);
  pace.setInterval(20);
  QObject::connect(&pace, &QTimer::timeout, [&] {
    if (sent == total) return;
    ++sent;
    for (Target& t : targets) {
      auto clock = std::make_shared<QElapsedTimer>();
      clock->start();
      QNetworkReply* reply = nam.get(
          QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1/scales").arg(t.port))));
      Target* target = &t;
      QObject::connect(reply, &QNetworkReply::finished, [reply, clock, target] {
        target->latencyMs.push_back(static_cast<double>(clock->nsecsElapsed()) / 1e6);
        if (reply->error() != QNetworkReply::NoError || reply->readAll().size() < 100)
          ++target->failed;
        reply->deleteLater();
      });
    }
  });
  pace.start();
  const auto done = [&] {
    return std::all_of(targets.begin(), targets.end(), [&](const Target& t) {
      return static_cast<int>(t.latencyMs.size()) == total;
    });
  };
  QElapsedTimer limit;
  limit.start();
  while (!done() && limit.elapsed() < (requestSeconds + 10) * 1000)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  pace.stop();
  const double span = monotonicSeconds() - t0;
  std::printf("\nGET /api/v1/scales at 50 a second on each, %d requests each, in ms:\n\n", total);
  std::printf("%-36s %7s %7s %7s %7s %7s %10s %12s\n", "", "failed", "median", "p90", "p99", "max",
              "CPU %", "CPU ms/req");
  for (Target& t : targets) {
    const double used = cpuSecondsFine(t.process->pid()) - t.cpu0;
    // The CPU the answers cost: what the line used beyond its rate without them.
    const double base = t.line != nullptr ? t.line->cpu / t.line->seconds * span : 0;
    std::printf("%-36s %7d %7.2f %7.2f %7.2f %7.2f %10.2f %12.3f\n", t.name.c_str(), t.failed,
                quantile(t.latencyMs, 0.5), quantile(t.latencyMs, 0.9), quantile(t.latencyMs, 0.99),
                quantile(t.latencyMs, 1.0), used / span * 100, (used - base) / total * 1000);
  }

  // Resident memory with the dashboards open.
  const int samples = std::max(2, static_cast<int>(memorySeconds / 10) + 1);
  for (int s = 0; s < samples; ++s) {
    if (s > 0) runFor(memorySeconds / (samples - 1));
    for (auto& l : lines) l->rssKb.push_back(residentKb(l->proc->pid()));
  }
  std::printf("\nresident memory (kB) over %.0f s, every %.0f s:\n", memorySeconds,
              memorySeconds / (samples - 1));
  for (auto& l : lines) {
    std::printf("%-36s", l->name.c_str());
    for (long kb : l->rssKb) std::printf(" %ld", kb);
    std::printf("\n");
  }

  // Captures of scale A, one after another, each timed from the request leaving this process to
  // its answer; a capture takes three settled answers in a row by default.
  constexpr int kCaptures = 20;
  std::printf("\ncaptures of settled scale A, %d one after another, in ms:\n\n", kCaptures);
  std::printf("%-36s %7s %7s %7s %7s %12s %16s\n", "", "failed", "median", "p90", "max",
              "A's cycle", "max in cycles");
  for (auto& l : lines) {
    if (l->httpPort == 0) continue;
    std::vector<double> ms;
    int failed = 0;
    for (int i = 0; i < kCaptures; ++i) {
      QNetworkRequest request(
          QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1/scales/A/captures").arg(l->httpPort)));
      request.setRawHeader("Authorization", QByteArray("Bearer ") + kToken);
      request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
      QElapsedTimer clock;
      clock.start();
      QNetworkReply* reply = nam.post(request, QByteArray("{}"));
      while (!reply->isFinished() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
      ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
      if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 201) ++failed;
      delete reply;
    }
    const double cycle = scanCycleMs(l->sim.logPath());
    std::printf("%-36s %7d %7.1f %7.1f %7.1f %12.1f %16.2f\n", l->name.c_str(), failed,
                quantile(ms, 0.5), quantile(ms, 0.9), quantile(ms, 1.0), cycle,
                cycle > 0 ? quantile(ms, 1.0) / cycle : -1.0);
  }
  return 0;
}
