// trv4-bench-publishing: what publishing the weights costs. Three lines run side by side, each
// eight scales of trv4-scalesim at 9600 baud 7E1 answering after 5 ms, with moving weights:
//   - the program (offscreen) with publishing off;
//   - the program with MQTT publishing on, to Debian's mosquitto on 127.0.0.1, and the Modbus
//     TCP server on;
//   - trv4-gateway with the same publishing.
// Their CPU is read from /proc over the same rounds, so the machine's noise falls on all three.
// A subscriber takes every weight message; the latency is from the simulator writing a reply's
// last byte to the subscriber holding the message that reply changed.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/program_line.h"
#include "tests/support/mqtt_broker.h"
#include "tools/scalesim/sim_session.h"

using namespace trv4::scalesim;
using trv4::bench::ProgramLine;
using trv4::bench::quantile;
using trv4::test::MqttBroker;
using trv4::test::MqttSubscriber;

namespace {

const std::vector<std::string> kLine{"--scales", "A-H",  "--delay",  "5",
                                     "--baud",   "9600", "--format", "7E1"};

// One line: the simulator and a program (or the gateway) in a folder of their own.
struct Line : ProgramLine {
  Line(const std::string& name, const std::string& program, const std::string& net)
      : ProgramLine(program, kLine, net), name(name) {}
  std::string name;
  std::vector<double> cpuPercent;
  double cpu = 0, seconds = 0;
  long requests = 0;
};

std::vector<double> latencies(const Line& line, const MqttSubscriber& plant,
                              const std::string& prefix, double from) {
  // The simulator's log: the request names the scale, the write holding ETX ends its reply.
  std::map<char, std::vector<double>> replyEnds;
  char asked = 0;
  for (const LogEntry& e : line.sim.log()) {
    if (e.kind == LogEntry::kRx) {
      asked = e.bytes.size() > 1 ? e.bytes[1] : 0;
    } else if (asked && e.bytes.find('\x03') != std::string::npos) {
      replyEnds[asked].push_back(e.at);
      asked = 0;
    }
  }
  std::vector<double> ms;
  for (const auto& m : plant.messages()) {
    if (m.topic.size() != prefix.size() + 9 || !m.topic.ends_with("/weight") ||
        m.topic.compare(0, prefix.size(), prefix) != 0)
      continue;
    const char address = m.topic[prefix.size() + 1];
    const double at =
        std::chrono::duration<double>(m.at.time_since_epoch()).count();  // CLOCK_MONOTONIC
    if (at < from) continue;
    const auto& ends = replyEnds[address];
    auto it = std::upper_bound(ends.begin(), ends.end(), at);
    if (it == ends.begin()) continue;
    ms.push_back((at - *std::prev(it)) * 1000);
  }
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 30;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: trv4-bench-publishing [--seconds N]   (N seconds in all)\n");
      return 2;
    }
  }
  MqttBroker broker;
  if (!broker.start()) {
    std::fprintf(stderr, "trv4-bench-publishing: mosquitto does not start\n");
    return 1;
  }
  // The heartbeat at its longest, so that every message measured follows a reply. Each line has
  // a client id of its own: two clients with one id take the connection from each other.
  auto net = [&](const std::string& prefix, int modbusPort) {
    return "[mqtt]\nenabled=true\nport=" + std::to_string(broker.port()) + "\nprefix=" + prefix +
           "\nclient_id=bench-" + prefix +
           "\nheartbeat_s=3600\n[modbus]\nenabled=true\nport=" + std::to_string(modbusPort) + "\n";
  };
  MqttSubscriber plant(broker.port(), "#");
  std::vector<std::unique_ptr<Line>> lines;
  lines.push_back(std::make_unique<Line>("program, publishing off", programPath(), ""));
  lines.push_back(std::make_unique<Line>("program, MQTT + Modbus on", programPath(),
                                         net("program", trv4::test::freeTcpPort())));
  const bool gateway = access(gatewayPath().c_str(), X_OK) == 0;
  if (gateway)
    lines.push_back(std::make_unique<Line>("trv4-gateway, MQTT + Modbus on", gatewayPath(),
                                           net("gateway", trv4::test::freeTcpPort())));
  for (auto& l : lines) {
    if (!l->sim.ready() || !waitFor([&] { return received(l->sim.log()).size() > 16; }, 10000)) {
      std::fprintf(stderr, "trv4-bench-publishing: %s does not poll\n", l->name.c_str());
      return 1;
    }
  }
  sleepSeconds(1);  // past start-up
  const double measuredFrom = monotonicSeconds();
  constexpr int kRounds = 10;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<double> cpu0;
    const double t0 = monotonicSeconds();
    for (auto& l : lines) cpu0.push_back(cpuSeconds(l->proc->pid()));
    sleepSeconds(seconds / kRounds);
    const double t1 = monotonicSeconds();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      Line& l = *lines[i];
      const double used = cpuSeconds(l.proc->pid()) - cpu0[i];
      l.cpuPercent.push_back(used / (t1 - t0) * 100);
      l.cpu += used;
      l.seconds += t1 - t0;
      l.requests += requestsBetween(l.sim.logPath(), t0, t1);
    }
  }
  std::printf(
      "eight scales per line, 9600 baud 7E1, 5 ms replies, moving weights; %.0f s in %d "
      "rounds\n\n",
      seconds, kRounds);
  std::printf("%-32s %9s %9s %9s %10s %9s\n", "", "CPU %", "CPU med%", "req/s", "CPU us/req",
              "RSS kB");
  for (auto& l : lines)
    std::printf("%-32s %9.2f %9.2f %9.1f %10.1f %9ld\n", l->name.c_str(), l->cpu / l->seconds * 100,
                quantile(l->cpuPercent, 0.5), l->requests / l->seconds,
                l->requests ? l->cpu / l->requests * 1e6 : 0.0, residentKb(l->proc->pid()));
  // Over the whole run (the per-round figures move in steps of the kernel's clock tick).
  auto percent = [](const Line& l) { return l.cpu / l.seconds * 100; };
  std::printf("\npublishing's cost (program on - off): %+.2f percentage points of one core\n",
              percent(*lines[1]) - percent(*lines[0]));
  if (gateway)
    std::printf("the gateway against the program with windows, both publishing: %+.2f pp\n",
                percent(*lines[2]) - percent(*lines[1]));
  for (const auto& [prefix, index] : {std::pair<std::string, int>{"program", 1}, {"gateway", 2}}) {
    if (index >= static_cast<int>(lines.size())) continue;
    std::vector<double> ms = latencies(*lines[index], plant, prefix, measuredFrom);
    std::printf(
        "%s: reply's last byte -> subscriber, %zu messages: median %.2f, p90 %.2f, "
        "p99 %.2f, max %.2f ms\n",
        prefix.c_str(), ms.size(), quantile(ms, 0.5), quantile(ms, 0.9), quantile(ms, 0.99),
        quantile(ms, 1.0));
  }
  return 0;
}
