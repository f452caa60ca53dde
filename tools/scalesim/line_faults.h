// Faults of the line and of badly behaved scales (--fault): a reply lost, refused, garbled, cut,
// doubled or buried in noise, and a scale that babbles without end. Each hits its share of the
// replies, drawn from the run's seed.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/scalesim/random.h"

namespace trv4::scalesim {

// What each does: kFaultKinds.
enum class FaultKind { kSilence, kNoise, kCut, kDouble, kStream, kBadCheck, kNak };

// Every fault kind once: its name for --fault and what it does, for the usage text and the
// error that names the kinds.
struct FaultKindInfo {
  FaultKind kind;
  const char* name;
  const char* does;
};
inline constexpr FaultKindInfo kFaultKinds[] = {
    {FaultKind::kSilence, "silence", "the scale does not answer"},
    {FaultKind::kNoise, "noise", "random bytes on the line in front of the reply"},
    {FaultKind::kCut, "cut", "the reply stops part-way: no ETX"},
    {FaultKind::kDouble, "double", "the reply and a second frame in one write"},
    {FaultKind::kStream, "stream", "one scale sends characters without end"},
    {FaultKind::kBadCheck, "badcheck", "the reply's block check is wrong"},
    {FaultKind::kNak, "nak", "a status request is answered with NAK"},
};

// "silence, noise, ...": the kinds' names in the table's order.
std::string faultKindNames();
// The usage text's lines for --fault, a kind a line.
std::string faultUsage();

struct Fault {
  FaultKind kind = FaultKind::kSilence;
  std::set<char> addresses;  // empty: every scale
  double rate = 1.0;         // share of replies affected, 0..1 (ignored by kStream)
};

// Parses "silence", "noise:A", "cut:B-D@0.5", "stream:H": kind, optional addresses, optional
// rate. nullopt with *error set when the text is malformed.
std::optional<Fault> parseFault(std::string_view text, std::string* error);

class LineFaults {
 public:
  explicit LineFaults(std::vector<Fault> faults) : faults_(std::move(faults)) {}

  // The scale that streams (the last stream fault's first address, "A" for every scale).
  std::optional<char> streamer() const;
  // The bytes that go on the line for a scale's reply body (a status request's when status),
  // or nullopt when it is lost. secondFrame gives the frame a double reply adds.
  std::optional<std::string> spoil(char address, bool status, const std::string& body,
                                   const std::function<std::string()>& secondFrame,
                                   Random& random) const;

 private:
  // Whether a fault of this kind hits this reply of the scale.
  bool hits(FaultKind kind, char address, Random& random) const;

  std::vector<Fault> faults_;
};

}  // namespace trv4::scalesim
