#include "tools/scalesim/parameter_store.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <map>
#include <string_view>

#include "tools/scalesim/data_fields.h"

namespace trv4::scalesim {

namespace {

const std::map<std::string, std::string>& defaults() {
  static const std::map<std::string, std::string> kDefaults = {
      {"s1", "02000"},  {"p1", "204022"}, {"p2", "019900"}, {"p3", "200000"},
      {"q1", "00000"},  {"q2", "00000"},  {"s2", "A9617"},  {"f1", "100000"},
      {"f2", "100000"}, {"f3", "100000"}, {"f4", "100000"}, {"i0", "000000"},
      {"i1", "000000"}, {"i2", "000000"}, {"i3", "000000"}, {"i4", "000000"},
  };
  return kDefaults;
}

// The reads, in the order a "wrong" answer takes its stand-in from: the read after the one asked.
constexpr std::array<std::string_view, 16> kReads = {
    "d", "s1", "p1", "p2", "p3", "q1", "q2", "f1", "f2", "f3", "f4", "i0", "i1", "i2", "i3", "i4"};

bool validWrite(const std::string& name, const std::string& v) {
  if (name == "S1")
    return v.size() == 5 && (v[0] == '0' || v[0] == '1') && inRange(v[1], '0', '9') &&
           v.substr(2) == "000";
  if (name == "P1")
    return v.size() == 6 && inRange(v[0], '1', '4') && inRange(v[1], '0', '1') &&
           inRange(v[2], '1', '4') && inRange(v[3], '0', '1') && inRange(v[4], '0', '2') &&
           inRange(v[5], '1', '6');
  if (name == "P2")
    return v.size() == 6 && allDigits(v) &&
           oneOf(std::string_view(v).substr(0, 2), {"01", "02", "05", "10", "20", "50"});
  if (name == "P3")
    // Decimal point, four flags, and a "0" the read reports back in that place.
    return v.size() == 6 && inRange(v[0], '0', '4') &&
           std::all_of(v.begin() + 1, v.end() - 1, [](char c) { return c == '0' || c == '1'; }) &&
           v[5] == '0';
  if (name == "Q1" || name == "Q2") return v.size() == 5 && allDigits(v);
  if (name == "S2")
    // A scale cannot take the broadcast address "@".
    return v.size() == 5 && inRange(v[0], 'A', '^') &&
           oneOf(std::string_view(v).substr(1, 2), {"24", "96", "19", "38", "57", "11"}) &&
           oneOf(std::string_view(v).substr(3, 2), {"17", "08"});
  return false;
}

}  // namespace

std::optional<size_t> shortAnswerLength(std::string_view request) {
  // The program takes a read's answer only when the whole frame is longer than this.
  static const std::map<std::string_view, size_t> kLongestRefused = {
      {"d", 11}, {"s1", 8}, {"p1", 12}, {"p2", 9}, {"p3", 9}, {"q1", 9}, {"q2", 9}, {"f1", 8},
      {"f2", 8}, {"f3", 8}, {"f4", 8},  {"i0", 9}, {"i1", 9}, {"i2", 9}, {"i3", 9}, {"i4", 9},
  };
  if (auto it = kLongestRefused.find(request); it != kLongestRefused.end()) return it->second;
  if (oneOf(request, {"S1", "S2", "P1", "P2", "P3", "Q1", "Q2", "W", "J0", "J1"}))
    return kFrameOverhead;
  return std::nullopt;
}

void startParameters(ScaleState& s, Random& random) {
  s.params = defaults();
  // Internal resolution: counts the converter gives at full load; differs from scale to scale.
  s.params["i0"] = sixDigits(static_cast<long long>(random.uniform(200000, 900000)));
  s.params["s2"][0] = s.address;
  s.stored = s.params;
}

std::optional<std::string> readParameter(const ScaleState& s, const std::string& body) {
  if (body.size() != 2 || !std::islower(static_cast<unsigned char>(body[0]))) return std::nullopt;
  auto it = s.params.find(body);
  if (it == s.params.end() || body == "s2") return std::nullopt;
  return body + it->second;
}

std::optional<std::string> writeParameter(ScaleState& s, const std::string& body) {
  const std::string name = body.substr(0, 2);
  if (!oneOf(name, {"S1", "S2", "P1", "P2", "P3", "Q1", "Q2"})) return std::nullopt;
  const std::string v = body.substr(2);
  if (!validWrite(name, v) || s.pinLock) return std::string(1, kNak);
  std::string key = name;
  key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
  s.params[key] = v;
  return std::string(1, kAck);
}

std::optional<std::string> pinCommand(ScaleState& s, const std::string& body) {
  const std::string pin = body.size() > 2 ? body.substr(2) : "";
  if (body[0] != 'J' || body.size() != 8 || !allDigits(pin)) return std::nullopt;
  if (body[1] != '0' && body[1] != '1') return std::string(1, kNak);
  if (s.pinLock && pin != s.pin) return std::string(1, kNak);
  if (body[1] == '1') s.pin = pin;  // lock with this PIN
  s.pinLock = body[1] == '1';
  return std::string(1, kAck);
}

std::string storeParameters(ScaleState& s) {
  if (s.pinLock) return std::string(1, kNak);
  s.stored = s.params;
  ++s.auditCounter;
  return std::string(1, kAck);
}

void restoreParameters(ScaleState& s) {
  s.params = s.stored;
}

std::string lockAnswer(const ScaleState& s) {
  int flags = (s.calLock ? 1 : 0) | (s.pinLock ? 2 : 0);
  return "d" + std::string(1, static_cast<char>('0' + flags)) + sixDigits(s.auditCounter);
}

std::string standInAnswer(const ScaleState& s, const std::string& request) {
  std::string other = "d";
  if (auto it = std::find(kReads.begin(), kReads.end(), request); it != kReads.end())
    other = std::next(it) == kReads.end() ? kReads.front() : *std::next(it);
  else if (request.size() == 2 && request[0] != 'J')
    other = {static_cast<char>(std::tolower(static_cast<unsigned char>(request[0]))), request[1]};
  auto param = s.params.find(other);
  return param == s.params.end() ? lockAnswer(s) : other + param->second;
}

int displayDecimals(const ScaleState& s) {
  auto p3 = s.params.find("p3");
  return std::clamp(p3 == s.params.end() || p3->second.empty() ? 2 : p3->second[0] - '0', 0, 4);
}

int loadCells(const ScaleState& s) {
  auto p1 = s.params.find("p1");
  return std::clamp(p1 != s.params.end() && p1->second.size() > 2 ? p1->second[2] - '0' : 4, 1, 4);
}

}  // namespace trv4::scalesim
