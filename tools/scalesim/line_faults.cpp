#include "tools/scalesim/line_faults.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "tools/scalesim/scale_model.h"

namespace trv4::scalesim {

std::string faultKindNames() {
  std::string names;
  for (const FaultKindInfo& k : kFaultKinds)
    names += (names.empty() ? "" : ", ") + std::string(k.name);
  return names;
}

std::string faultUsage() {
  std::string text =
      "  --fault FAULT     KIND[:LIST][@RATE]: RATE 0..1 the share of replies hit (default 1);\n"
      "                    may be given several times, e.g. --fault silence:C --fault cut@0.2;\n"
      "                    KIND one of\n";
  for (const FaultKindInfo& k : kFaultKinds) {
    std::string name = k.name;
    name.resize(10, ' ');
    text += "                      " + name + k.does + "\n";
  }
  return text;
}

std::optional<Fault> parseFault(std::string_view text, std::string* error) {
  Fault f;
  std::string_view kind = text;
  std::string_view where;
  std::string_view rate;
  if (size_t at = kind.find('@'); at != kind.npos) {
    rate = kind.substr(at + 1);
    kind = kind.substr(0, at);
  }
  if (size_t colon = kind.find(':'); colon != kind.npos) {
    where = kind.substr(colon + 1);
    kind = kind.substr(0, colon);
  }
  const auto* it = std::find_if(std::begin(kFaultKinds), std::end(kFaultKinds),
                                [&](const FaultKindInfo& k) { return kind == k.name; });
  if (it == std::end(kFaultKinds)) {
    if (error) *error = "unknown fault \"" + std::string(kind) + "\" (" + faultKindNames() + ")";
    return std::nullopt;
  }
  f.kind = it->kind;
  if (kind.size() != text.size() && text[kind.size()] == ':') {
    f.addresses = parseAddresses(where, error);
    if (f.addresses.empty()) return std::nullopt;
  }
  if (text.find('@') != text.npos) {
    char* end = nullptr;
    std::string r(rate);
    double v = std::strtod(r.c_str(), &end);
    if (end == r.c_str() || *end != '\0' || !(v >= 0 && v <= 1)) {
      if (error) *error = "fault rate must be a number from 0 to 1";
      return std::nullopt;
    }
    f.rate = v;
  }
  return f;
}

std::optional<char> LineFaults::streamer() const {
  std::optional<char> streamer;
  for (const Fault& f : faults_)
    if (f.kind == FaultKind::kStream) streamer = f.addresses.empty() ? 'A' : *f.addresses.begin();
  return streamer;
}

bool LineFaults::hits(FaultKind kind, char address, Random& random) const {
  for (const Fault& f : faults_)
    if (f.kind == kind && (f.addresses.empty() || f.addresses.count(address)) &&
        random.roll(f.rate))
      return true;
  return false;
}

std::optional<std::string> LineFaults::spoil(char address, bool status, const std::string& body,
                                             const std::function<std::string()>& secondFrame,
                                             Random& random) const {
  if (hits(FaultKind::kSilence, address, random)) return std::nullopt;
  const bool refused = status && hits(FaultKind::kNak, address, random);
  std::string bytes = makeFrame(address, refused ? std::string(1, kNak) : body);
  // A wrong block check: one bit of the second check character flips, keeping it in "0".."?".
  if (hits(FaultKind::kBadCheck, address, random)) bytes[bytes.size() - 2] ^= 1;
  if (hits(FaultKind::kCut, address, random))
    bytes.resize(1 + static_cast<size_t>(random.uniform(0, static_cast<double>(bytes.size() - 2))));
  if (hits(FaultKind::kDouble, address, random)) bytes += secondFrame();
  if (hits(FaultKind::kNoise, address, random)) {
    std::string noise;
    int n = 3 + static_cast<int>(random.next() % 6);
    while (static_cast<int>(noise.size()) < n) {
      char c = static_cast<char>(random.next() & 0xFF);
      if (c != kStx && c != kEtx) noise += c;
    }
    bytes = noise + bytes;
  }
  return bytes;
}

}  // namespace trv4::scalesim
