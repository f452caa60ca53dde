// The clients of the network load benchmark: each case's crowd of plant clients, run in a process
// of their own so that their work never delays the benchmark's measurements. Every case talks to
// 127.0.0.1 only, is bounded in connections, bytes and time, and ends by itself.
#pragma once

#include <QByteArray>
#include <string>
#include <vector>

namespace trv4::bench {

struct LoadTarget {
  quint16 httpPort = 0;
  quint16 modbusPort = 0;
  QByteArray token;
  double seconds = 8;
};

// The cases in the order the benchmark runs them; the last may leave the server unable to accept.
const std::vector<std::string>& loadCaseNames();

// Runs the named case (or "prefill": captures of scale A for the journal to hold) until its
// time is up, with a QCoreApplication's event loop. Returns a line telling what the clients did,
// empty for an unknown name.
std::string runLoadCase(const std::string& name, const LoadTarget& target);

}  // namespace trv4::bench
