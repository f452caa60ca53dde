#include "tools/scalesim/scale_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace trv4::scalesim {

namespace {

constexpr size_t kMaxFrame = 256;         // longer "frames" are line garbage
constexpr size_t kMaxRecorded = 10000;    // received frames kept
constexpr size_t kMaxScheduled = 100000;  // output entries waiting
constexpr int64_t kStreamMinGapUs = 1000;
constexpr size_t kStreamBlock = 256;  // bytes per millisecond of a stream without a bit rate

const char* const kWorkingText = "  CAL ";

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool oneOf(std::string_view value, std::initializer_list<std::string_view> choices) {
  return std::find(choices.begin(), choices.end(), value) != choices.end();
}

bool inRange(char c, char lo, char hi) {
  return c >= lo && c <= hi;
}

std::string defaultParam(const std::string& name) {
  static const std::map<std::string, std::string> kDefaults = {
      {"s1", "02000"},  {"p1", "204022"}, {"p2", "019900"}, {"p3", "200000"},
      {"q1", "00000"},  {"q2", "00000"},  {"s2", "A9617"},  {"f1", "100000"},
      {"f2", "100000"}, {"f3", "100000"}, {"f4", "100000"}, {"i0", "000000"},
      {"i1", "000000"}, {"i2", "000000"}, {"i3", "000000"}, {"i4", "000000"},
  };
  auto it = kDefaults.find(name);
  return it == kDefaults.end() ? std::string() : it->second;
}

// Decimals the display shows, from "p3".
int decimals(const std::string& p3) {
  return std::clamp(p3.empty() ? 2 : p3[0] - '0', 0, 4);
}

std::string sixDigits(long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%06lld", std::clamp(v, 0LL, 999999LL));
  return buf;
}

// STX, address, block check and ETX: what a frame adds to its body.
constexpr size_t kFrameOverhead = 5;

// The reads, in the order a "wrong" answer takes its stand-in from: the read after the one asked.
constexpr std::array<std::string_view, 16> kReads = {
    "d", "s1", "p1", "p2", "p3", "q1", "q2", "f1", "f2", "f3", "f4", "i0", "i1", "i2", "i3", "i4"};

// The answer to "d": lock flags ('0' + 1 calibration lock + 2 PIN lock), audit trail counter.
std::string lockAnswer(const ScaleState& s) {
  int flags = (s.calLock ? 1 : 0) | (s.pinLock ? 2 : 0);
  return "d" + std::string(1, static_cast<char>('0' + flags)) + sixDigits(s.auditCounter);
}

}  // namespace

std::string blockCheck(std::string_view stxToBody) {
  unsigned x = 0;
  for (char c : stxToBody) x ^= static_cast<unsigned char>(c);
  return {static_cast<char>(48 + (x >> 4)), static_cast<char>(48 + (x & 15))};
}

std::string makeFrame(char address, std::string_view body) {
  std::string f;
  f += kStx;
  f += address;
  f += body;
  f += blockCheck(f);
  f += kEtx;
  return f;
}

std::set<char> parseAddresses(std::string_view text, std::string* error) {
  std::set<char> out;
  auto valid = [](char c) { return c >= 'A' && c <= '^'; };
  size_t i = 0;
  while (i < text.size()) {
    size_t comma = text.find(',', i);
    std::string_view item = text.substr(i, comma == std::string_view::npos ? text.npos : comma - i);
    if (item.size() == 1 && valid(item[0])) {
      out.insert(item[0]);
    } else if (item.size() == 3 && item[1] == '-' && valid(item[0]) && valid(item[2]) &&
               item[0] <= item[2]) {
      for (char c = item[0]; c <= item[2]; ++c) out.insert(c);
    } else {
      if (error) *error = "bad address list \"" + std::string(text) + "\" (use e.g. A-H or A,C,E)";
      return {};
    }
    if (comma == std::string_view::npos) break;
    i = comma + 1;
  }
  if (out.empty() && error) *error = "empty address list";
  return out;
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
  static const std::map<std::string_view, FaultKind> kKinds = {
      {"silence", FaultKind::kSilence}, {"noise", FaultKind::kNoise},
      {"cut", FaultKind::kCut},         {"double", FaultKind::kDouble},
      {"stream", FaultKind::kStream},   {"badcheck", FaultKind::kBadCheck},
      {"nak", FaultKind::kNak},
  };
  auto it = kKinds.find(kind);
  if (it == kKinds.end()) {
    if (error)
      *error = "unknown fault \"" + std::string(kind) +
               "\" (silence, noise, cut, double, stream, badcheck, nak)";
    return std::nullopt;
  }
  f.kind = it->second;
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

int bitsPerCharacter(std::string_view format) {
  if (format.size() != 3) return 0;
  char data = format[0], parity = static_cast<char>(std::toupper(format[1])), stop = format[2];
  if (data < '5' || data > '8' || (stop != '1' && stop != '2')) return 0;
  if (parity != 'N' && parity != 'E' && parity != 'O' && parity != 'M' && parity != 'S') return 0;
  return 1 + (data - '0') + (parity == 'N' ? 0 : 1) + (stop - '0');
}

ScaleNetwork::ScaleNetwork(NetworkOptions options)
    : options_(std::move(options)), rng_(options_.seed * 0x9E3779B97F4A7C15ULL + 1) {
  if (options_.baud > 0 && options_.bitsPerChar > 0)
    charUs_ = (int64_t{options_.bitsPerChar} * 1'000'000 + options_.baud - 1) / options_.baud;
  for (char a : options_.addresses) {
    ScaleState s;
    s.address = a;
    for (const char* name : {"s1", "p1", "p2", "p3", "q1", "q2", "s2", "f1", "f2", "f3", "f4", "i0",
                             "i1", "i2", "i3", "i4"})
      s.params[name] = defaultParam(name);
    // Internal resolution: counts the converter gives at full load; differs from scale to scale.
    s.params["i0"] = sixDigits(static_cast<long long>(uniform(200000, 900000)));
    s.params["s2"][0] = a;
    s.stored = s.params;
    s.load = options_.movingWeights ? std::round(uniform(0, 50) * 20) / 20 : 0;
    s.motionFrom = s.load;
    s.nextLoadChangeUs = static_cast<int64_t>(uniform(1.5e6, 4e6));
    // Set-ups apply after the random draws, so the other scales' weights stay the same per seed.
    if (auto it = options_.setups.find(a); it != options_.setups.end()) {
      const ScaleSetup& setup = it->second;
      if (setup.load) {
        s.load = s.motionFrom = *setup.load;
        s.keepLoad = true;
      }
      if (setup.tare) {
        s.tare = *setup.tare;
        s.net = true;
      }
      s.standingText = setup.text;
      s.baud = setup.baud;
      s.format = setup.format;
      if (setup.pin) {
        s.pin = *setup.pin;
        s.pinLock = true;
      }
      s.calLock = setup.calLock;
      s.replies = setup.replies;
      s.corners = setup.corners;
      s.skipCorner = setup.skipCorner;
      s.calError = setup.calError;
      s.replyDelayUs = setup.replyDelayUs;
    }
    scales_[a] = s;
  }
  for (const Fault& f : options_.faults) {
    if (f.kind != FaultKind::kStream) continue;
    streamer_ = f.addresses.empty() ? 'A' : *f.addresses.begin();
    // At a bit rate one character per character time, at least a millisecond apart; without one
    // the line takes whatever comes, so the scale pours out a block every millisecond. Characters
    // with no pause between them are handed over in groups.
    const int64_t gap = std::max(charUs_, kStreamMinGapUs);
    streamChars_ = charUs_ == 0 ? kStreamBlock : gap == charUs_ ? groupSize() : 1;
    streamStepUs_ = charUs_ == 0 ? gap : gap * static_cast<int64_t>(streamChars_);
    streamNextUs_ = streamStepUs_;
  }
}

uint64_t ScaleNetwork::nextRandom() {
  // splitmix64: small, fast and the same on every platform.
  uint64_t z = (rng_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double ScaleNetwork::uniform(double lo, double hi) {
  return lo + (hi - lo) * static_cast<double>(nextRandom() >> 11) / 9007199254740992.0;
}

bool ScaleNetwork::roll(double rate) {
  if (rate >= 1) return true;
  if (rate <= 0) return false;
  return uniform(0, 1) < rate;
}

ScaleState* ScaleNetwork::scale(char address) {
  auto it = scales_.find(address);
  return it == scales_.end() ? nullptr : &it->second;
}

const Fault* ScaleNetwork::faultFor(FaultKind kind, char address) {
  for (const Fault& f : options_.faults)
    if (f.kind == kind && (f.addresses.empty() || f.addresses.count(address)) && roll(f.rate))
      return &f;
  return nullptr;
}

// ---- receiving ---------------------------------------------------------------------------

void ScaleNetwork::setLineSettings(int baud, std::string format) {
  lineBaud_ = baud;
  lineFormat_ = std::move(format);
}

bool ScaleNetwork::hears(const ScaleState& s) const {
  if (lineBaud_ == 0) return true;
  const int baud = s.baud ? s.baud : options_.baud;
  const std::string& format = s.baud ? s.format : options_.format;
  if (baud == 0) return true;
  return baud == lineBaud_ && (format.empty() || format == lineFormat_);
}

void ScaleNetwork::receive(std::string_view bytes, int64_t nowUs) {
  if (options_.echo && charUs_ == 0 && !bytes.empty() && out_.size() <= kMaxScheduled) {
    // Without a bit rate the echo of one write comes back as one piece, ahead of any reply.
    put({std::max(nowUs, rxFreeUs_), std::string(bytes)});
  }
  std::string echo;  // echoed characters not yet handed over
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    int64_t doneUs = std::max(nowUs, rxFreeUs_) + charUs_;
    rxFreeUs_ = doneUs;
    if (options_.echo && charUs_ > 0) {
      // The characters of one write follow each other without a pause: a group ends when it
      // is full or with the write.
      echo += c;
      if (echo.size() == groupSize() || i + 1 == bytes.size()) {
        if (out_.size() <= kMaxScheduled) put({doneUs, echo});
        echo.clear();
      }
    }
    if (c == kStx) {
      frame_.assign(1, c);
      inFrame_ = true;
    } else if (!inFrame_) {
      continue;  // garbage between frames
    } else if (c == kEtx) {
      frame_ += c;
      inFrame_ = false;
      std::string f;
      f.swap(frame_);
      handleFrame(f, doneUs);
    } else if (frame_.size() >= kMaxFrame) {
      inFrame_ = false;
      frame_.clear();
    } else {
      frame_ += c;
    }
  }
}

void ScaleNetwork::handleFrame(const std::string& frame, int64_t atUs) {
  ReceivedFrame rec{atUs, frame, false};
  if (frame.size() >= 5) {
    std::string head = frame.substr(0, frame.size() - 3);
    rec.valid = blockCheck(head) == frame.substr(frame.size() - 3, 2);
  }
  received_.push_back(rec);
  if (received_.size() > kMaxRecorded) received_.pop_front();
  if (onFrame) onFrame(rec);
  if (!rec.valid) return;  // a scale ignores a frame whose block check is wrong

  char address = frame[1];
  std::string body = frame.substr(2, frame.size() - 5);
  if (address == kBroadcast) {
    // Every scale acts on a broadcast; none answers (they would all talk at once).
    for (auto& [a, s] : scales_) {
      if (!body.empty() && body[0] == '?') continue;
      (void)answer(s, body, atUs);
    }
    return;
  }
  ScaleState* s = scale(address);
  if (!s || !hears(*s)) return;
  std::optional<std::string> out = reply(*s, body, atUs);
  if (!out || streamer_ == address) return;
  if (faultFor(FaultKind::kSilence, address)) return;
  if (!body.empty() && body[0] == '?' && faultFor(FaultKind::kNak, address))
    out = std::string(1, kNak);
  std::string bytes = makeFrame(address, *out);
  // A wrong block check: one bit of the second check character flips, keeping it in "0".."?".
  if (faultFor(FaultKind::kBadCheck, address)) bytes[bytes.size() - 2] ^= 1;
  if (faultFor(FaultKind::kCut, address))
    bytes.resize(1 + static_cast<size_t>(uniform(0, static_cast<double>(bytes.size() - 2))));
  if (faultFor(FaultKind::kDouble, address))
    bytes += makeFrame(address, "?" + statusPayload(address, atUs));
  if (faultFor(FaultKind::kNoise, address)) {
    std::string noise;
    int n = 3 + static_cast<int>(nextRandom() % 6);
    while (static_cast<int>(noise.size()) < n) {
      char c = static_cast<char>(nextRandom() & 0xFF);
      if (c != kStx && c != kEtx) noise += c;
    }
    bytes = noise + bytes;
  }
  int64_t delay = s->replyDelayUs.value_or(options_.replyDelayUs);
  // Drawn only when set, so runs without jitter keep their random sequence.
  if (options_.replyJitterUs > 0)
    delay += static_cast<int64_t>(nextRandom() % static_cast<uint64_t>(options_.replyJitterUs + 1));
  schedule(atUs, atUs + delay, bytes);
}

void ScaleNetwork::schedule(int64_t atUs, int64_t dueUs, const std::string& bytes) {
  // A PC that writes faster than the line can carry, and never reads, must not make the
  // schedule grow without bound: such replies are lost, as on a real line.
  if (out_.size() > kMaxScheduled) return;
  // No later reply is due before atUs, so replies over by then hold up none.
  while (!sending_.empty() && sending_.front().second <= atUs) sending_.pop_front();
  // The first time from dueUs on when the line is free for the whole reply. Replies scheduled
  // before keep their times, a late scale's too: one that would overlap them waits its turn.
  const int64_t lengthUs = charUs_ * static_cast<int64_t>(bytes.size());
  int64_t startUs = dueUs;
  for (const auto& [from, to] : sending_)
    if (from < startUs + lengthUs && startUs < to) startUs = to;
  sending_.insert(std::upper_bound(sending_.begin(), sending_.end(), startUs,
                                   [](int64_t t, const auto& x) { return t < x.first; }),
                  {startUs, startUs + lengthUs});
  if (charUs_ == 0) {
    put({startUs, bytes});
    return;
  }
  // Character i is complete i + 1 character times after the start; a group is handed over
  // when its last one is.
  const size_t group = groupSize();
  for (size_t i = 0; i < bytes.size(); i += group) {
    const size_t n = std::min(group, bytes.size() - i);
    put({startUs + static_cast<int64_t>(i + n) * charUs_, bytes.substr(i, n)});
  }
}

void ScaleNetwork::put(LineOutput o) {
  auto pos = std::upper_bound(out_.begin(), out_.end(), o.atUs,
                              [](int64_t t, const LineOutput& x) { return t < x.atUs; });
  out_.insert(pos, std::move(o));
}

// ---- sending -----------------------------------------------------------------------------

std::optional<int64_t> ScaleNetwork::nextOutputTime() const {
  std::optional<int64_t> next;
  if (!out_.empty()) next = out_.front().atUs;
  if (streamer_ && (!next || streamNextUs_ < *next)) next = streamNextUs_;
  return next;
}

void ScaleNetwork::fillStream(int64_t untilUs) {
  if (!streamer_) return;
  static const std::string kChatter = "0123456789 -+.kgNET";
  while (streamNextUs_ <= untilUs) {
    LineOutput o{streamNextUs_, {}};
    for (size_t k = 0; k < streamChars_; ++k) o.bytes += kChatter[streamPos_++ % kChatter.size()];
    put(std::move(o));
    streamNextUs_ += streamStepUs_;
  }
}

std::vector<LineOutput> ScaleNetwork::takeOutput(int64_t nowUs) {
  fillStream(nowUs);
  std::vector<LineOutput> due;
  while (!out_.empty() && out_.front().atUs <= nowUs) {
    due.push_back(std::move(out_.front()));
    out_.pop_front();
  }
  return due;
}

// ---- weighing ----------------------------------------------------------------------------

void ScaleNetwork::setLoad(char address, double kg, int64_t nowUs) {
  ScaleState* s = scale(address);
  if (!s) return;
  advanceLoad(*s, nowUs);
  s->motionFrom = displayedGross(*s, nowUs);
  s->load = kg;
  s->motionStartUs = nowUs;
  s->motionUntilUs = nowUs + settleUs;
}

void ScaleNetwork::advanceLoad(ScaleState& s, int64_t nowUs) {
  if (!options_.movingWeights || s.keepLoad) return;
  while (nowUs >= s.nextLoadChangeUs) {
    int64_t t = s.nextLoadChangeUs;
    s.motionFrom = s.load;
    double pick = uniform(0, 1);
    if (pick < 0.25)
      s.load = 0;
    else if (pick < 0.85)
      s.load = std::round(uniform(0, 0.8 * s.capacity) * 20) / 20;
    else if (pick < 0.93)
      s.load = s.capacity * 1.2;  // overload: off range
    else
      s.load = -std::round(uniform(0.1, 2) * 20) / 20;  // platform lifted: negative
    s.motionStartUs = t;
    s.motionUntilUs = t + settleUs;
    s.nextLoadChangeUs = t + static_cast<int64_t>(uniform(2e6, 6e6));
  }
}

double ScaleNetwork::displayedGross(ScaleState& s, int64_t nowUs) {
  if (nowUs >= s.motionUntilUs) return s.load;
  double f = static_cast<double>(nowUs - s.motionStartUs) /
             static_cast<double>(std::max<int64_t>(1, s.motionUntilUs - s.motionStartUs));
  f = std::clamp(f, 0.0, 1.0);
  double swing = (s.load - s.motionFrom) * (1 - f);
  // A damped wobble around the way from the old load to the new one.
  return s.load - swing * std::cos(f * 9.0);
}

double ScaleNetwork::reportedGross(ScaleState& s, int64_t nowUs) {
  return (displayedGross(s, nowUs) - s.zeroOffset) * s.span;
}

void ScaleNetwork::updateText(ScaleState& s, int64_t nowUs) {
  while (!s.display.empty() && s.display.front().durationUs >= 0 &&
         nowUs >= s.displayStartUs + s.display.front().durationUs) {
    s.displayStartUs += s.display.front().durationUs;
    s.display.pop_front();
  }
}

void ScaleNetwork::showText(char address, const std::string& text, int64_t nowUs,
                            int64_t durationUs) {
  ScaleState* s = scale(address);
  if (!s) return;
  s->display.assign(1, {text, durationUs < 0 ? -1 : durationUs});
  s->displayStartUs = nowUs;
}

std::string ScaleNetwork::statusPayload(char address, int64_t nowUs) {
  ScaleState* sp = scale(address);
  if (!sp) return {};
  ScaleState& s = *sp;
  advanceLoad(s, nowUs);
  updateText(s, nowUs);
  const std::string& p2 = s.params["p2"];
  const std::string& p3 = s.params["p3"];
  int dp = decimals(p3);
  int res = std::max(1, std::atoi(p2.substr(0, 2).c_str()));
  double d = res * std::pow(10.0, -dp);
  bool stable = nowUs >= s.motionUntilUs;
  int bits = stable ? kStableBit : 0;
  if (!s.display.empty() || !s.standingText.empty()) {
    std::string field = s.display.empty() ? s.standingText : s.display.front().text;
    field.resize(6, ' ');
    return std::string(1, static_cast<char>(0x40 | kTextBit | bits)) + field;
  }
  double gross = reportedGross(s, nowUs);
  double value = gross - (s.net ? s.tare : 0);
  value = std::round(value / d) * d;
  if (s.net) bits |= kNetBit;
  if (stable && std::fabs(gross) < d / 4) bits |= kMarkBit;
  if (value < 0) bits |= kNegativeBit;
  char field[32];
  std::snprintf(field, sizeof field, "%0*.*f", 6, dp, std::fabs(value));
  std::string f = field;
  if (gross > s.capacity + 9 * d || f.size() > 6) {
    bits |= kOffRangeBit;
    f = "------";
  } else if (p3.size() > 4 && p3[4] == '1') {
    // Leading zero blank: zeros in front of the units digit become blanks.
    size_t units = f.find('.');
    if (units == std::string::npos) units = f.size();
    for (size_t i = 0; i + 1 < units && f[i] == '0'; ++i) f[i] = ' ';
  }
  return std::string(1, static_cast<char>(0x40 | bits)) + f;
}

// ---- commands ----------------------------------------------------------------------------

std::optional<std::string> ScaleNetwork::reply(ScaleState& s, const std::string& body,
                                               int64_t atUs) {
  const std::string name = body.size() == 1 ? body : body.substr(0, 2);
  auto fault = s.replies.find(name);
  if (fault == s.replies.end()) return answer(s, body, atUs);
  if (fault->second == ReplyFault::kNak) return std::string(1, kNak);  // refused: nothing done
  // The scale acts on the request; only its answer goes wrong.
  std::string out = answer(s, body, atUs);
  switch (fault->second) {
    case ReplyFault::kNoAnswer:
      return std::nullopt;
    case ReplyFault::kShort:
      out.resize(
          std::min(out.size(), shortAnswerLength(name).value_or(kFrameOverhead) - kFrameOverhead));
      return out;
    case ReplyFault::kWrong: {
      // A read gets the next read's answer, a write the read-back of its parameter; store and
      // the PIN commands get the lock flags.
      std::string other = "d";
      if (auto it = std::find(kReads.begin(), kReads.end(), name); it != kReads.end())
        other = std::next(it) == kReads.end() ? kReads.front() : *std::next(it);
      else if (name.size() == 2 && name[0] != 'J')
        other = {static_cast<char>(std::tolower(static_cast<unsigned char>(name[0]))), name[1]};
      auto param = s.params.find(other);
      return param == s.params.end() ? lockAnswer(s) : other + param->second;
    }
    case ReplyFault::kNak:
      break;
  }
  return out;
}

std::string ScaleNetwork::answer(ScaleState& s, const std::string& body, int64_t atUs) {
  advanceLoad(s, atUs);
  updateText(s, atUs);
  if (body.empty()) return std::string(1, kNak);
  if (body[0] == '?') return "?" + statusPayload(s.address, atUs);
  const char ack[] = {kAck, 0};
  const char nak[] = {kNak, 0};

  // One-shot and weighing commands.
  if (body.size() == 1) {
    switch (body[0]) {
      case 'Z':
        s.zeroOffset = displayedGross(s, atUs);
        s.net = false;
        s.tare = 0;
        return ack;
      case 'T':
        s.tare = reportedGross(s, atUs);
        s.net = true;
        return ack;
      case 'G':
        s.net = false;
        s.tare = 0;
        return ack;
      case 'R':
        s.net = false;
        s.tare = 0;
        s.display.clear();
        s.cornerMode = 0;
        s.params = s.stored;  // what was not stored is lost
        return ack;
      case kAck:
        // Acknowledges an error on the display; a corner calibration waiting for its next
        // corner goes on.
        if (!s.display.empty() && s.display.front().text.rfind("ERR", 0) == 0) s.display.clear();
        return ack;
      case kSync:
        return ack;
      case 'W':
        if (s.pinLock) return nak;
        s.stored = s.params;
        ++s.auditCounter;
        return ack;
      case 'd':
        return lockAnswer(s);
      case 'a':
        return calibration(s, body, atUs);
      default:
        return nak;
    }
  }

  std::string name = body.substr(0, 2);
  std::string data = body.substr(2);
  // Reads: the request's two letters, then the data.
  if (data.empty() && std::islower(static_cast<unsigned char>(name[0]))) {
    auto it = s.params.find(name);
    if (it != s.params.end() && name != "s2") return name + it->second;
  }
  if (body[0] == 'J' && body.size() == 8 && allDigits(data)) {
    if (body[1] == '0') {  // unlock
      if (s.pinLock && data != s.pin) return nak;
      s.pinLock = false;
      return ack;
    }
    if (body[1] == '1') {  // lock with this PIN
      if (s.pinLock && data != s.pin) return nak;
      s.pin = data;
      s.pinLock = true;
      return ack;
    }
    return nak;
  }
  if (oneOf(name, {"S1", "S2", "P1", "P2", "P3", "Q1", "Q2"})) return parameterWrite(s, body, atUs);
  if (body[0] == 'b' || body[0] == 'c' || body[0] == 'A' || body[0] == 'B' || body[0] == 'C')
    return calibration(s, body, atUs);
  return nak;
}

std::string ScaleNetwork::parameterWrite(ScaleState& s, const std::string& body, int64_t) {
  const std::string nak(1, kNak);
  std::string name = body.substr(0, 2);
  std::string v = body.substr(2);
  bool ok = false;
  if (name == "S1") {
    ok = v.size() == 5 && (v[0] == '0' || v[0] == '1') && inRange(v[1], '0', '9') &&
         v.substr(2) == "000";
  } else if (name == "P1") {
    ok = v.size() == 6 && inRange(v[0], '1', '4') && inRange(v[1], '0', '1') &&
         inRange(v[2], '1', '4') && inRange(v[3], '0', '1') && inRange(v[4], '0', '2') &&
         inRange(v[5], '1', '6');
  } else if (name == "P2") {
    ok = v.size() == 6 && allDigits(v) &&
         oneOf(std::string_view(v).substr(0, 2), {"01", "02", "05", "10", "20", "50"});
  } else if (name == "P3") {
    // Decimal point, four flags, and a "0" the read reports back in that place.
    ok = v.size() == 6 && inRange(v[0], '0', '4') &&
         std::all_of(v.begin() + 1, v.end() - 1, [](char c) { return c == '0' || c == '1'; }) &&
         v[5] == '0';
  } else if (name == "Q1" || name == "Q2") {
    ok = v.size() == 5 && allDigits(v);
  } else if (name == "S2") {
    // A scale cannot take the broadcast address "@".
    ok = v.size() == 5 && inRange(v[0], 'A', '^') &&
         oneOf(std::string_view(v).substr(1, 2), {"24", "96", "19", "38", "57", "11"}) &&
         oneOf(std::string_view(v).substr(3, 2), {"17", "08"});
  }
  if (!ok || s.pinLock) return nak;
  std::string key = name;
  key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
  s.params[key] = v;
  return std::string(1, kAck);
}

std::string ScaleNetwork::calibration(ScaleState& s, const std::string& body, int64_t atUs) {
  const std::string ack(1, kAck), nak(1, kNak);
  const char kind = body[0];
  const std::string v = body.substr(1);
  const std::string& p1 = s.params["p1"];
  const int cells = std::clamp(p1.size() > 2 ? p1[2] - '0' : 4, 1, 4);
  const int corners = s.corners > 0 ? s.corners : cells;
  // Kilograms of the display's last digit, for the weights keyed in as the display shows them.
  const double digitKg = std::pow(10.0, -decimals(s.params["p3"]));
  const double onPlatform = displayedGross(s, atUs) - s.zeroOffset;  // before the span
  // Every step shows the working text first, then what it ends in: the next corner, an error
  // (both until replaced or acknowledged) or, with `then` empty, the weight.
  auto finish = [&](std::string then) {
    s.display.assign(1, {kWorkingText, workingTextUs});
    if (!then.empty()) s.display.push_back({std::move(then), -1});
    s.displayStartUs = atUs;
    return ack;
  };
  auto refuse = [&](std::string text) {
    s.cornerMode = 0;
    return finish(std::move(text));
  };
  auto done = [&] {
    s.net = false;  // a calibrated scale shows gross
    s.tare = 0;
    ++s.auditCounter;
    return finish("");
  };
  // Corner n is calibrated (0: the corner calibration begins): the next corner is asked for,
  // one given by --skip-corner passed over, or the sequence ends.
  auto cornerDone = [&](int n) {
    int next = n + 1;
    if (next == s.skipCorner) ++next;
    if (next > corners) {
      s.cornerMode = 0;
      s.nextCorner = 0;
      ++s.auditCounter;
      return finish("");
    }
    s.nextCorner = next;
    return finish("CORN." + std::to_string(next));
  };
  // Well-formed commands only; everything else is refused outright.
  bool ok = (kind == 'a' && v.empty()) || (kind == 'b' && v.size() == 5 && allDigits(v)) ||
            (kind == 'c' && v.size() == 1 && inRange(v[0], '0', '9')) ||
            (kind == 'A' && v.size() == 6 && allDigits(v)) ||
            (kind == 'B' && v.size() == 5 && allDigits(v)) ||
            (kind == 'C' && v.size() == 7 && allDigits(v) && v[0] != '0');
  if (!ok) return nak;
  // An error waits for its ACK: until then the scale calibrates nothing and the error stays.
  if (std::any_of(s.display.begin(), s.display.end(),
                  [](const ScaleState::DisplayStep& d) { return d.text.rfind("ERR", 0) == 0; }))
    return ack;
  if (s.calError) {
    const int error = std::exchange(s.calError, 0);  // the first calibration command only
    return refuse("ERR " + std::to_string(error));
  }
  const bool starts = kind == 'a' || kind == 'b' || kind == 'A' || kind == 'B' ||
                      (kind == 'c' && v == "0") || (kind == 'C' && v[0] == '1');
  if (starts && s.calLock) return refuse("ERR 91");
  const int keyed = std::atoi(v.c_str());
  switch (kind) {
    case 'a':
      s.zeroOffset = displayedGross(s, atUs);
      return done();
    case 'A': {
      // The signal given is taken as the empty platform's: the difference from the real one,
      // through the load cells' output, is the load that now reads as zero.
      const double kgPerSignal = cells * s.cellCapacityKg / kRatedSignal;
      s.zeroOffset = (keyed / 1e4 - s.emptySignal) * kgPerSignal;
      return done();
    }
    case 'b':
      // The test load must be a good part of the capacity for the converter to resolve it.
      if (keyed < 1 || onPlatform < 0.01 * s.capacity) return refuse("ERR 90");
      s.span = keyed * digitKg / onPlatform;
      return done();
    case 'B':
      // Cells taken as rated for the capacity given report their load scaled by it.
      if (keyed < 1) return refuse("ERR 90");
      s.span = keyed * digitKg / s.cellCapacityKg;
      return done();
    case 'c': {
      const int n = v[0] - '0';
      if (n == 0) {
        s.cornerMode = 'c';
        return cornerDone(0);
      }
      if (s.cornerMode != 'c' || n != s.nextCorner) return nak;
      if (onPlatform < 0.01 * s.capacity) return refuse("ERR 90");
      // The scale keeps four corner factors.
      if (n <= 4)
        s.params["f" + std::to_string(n)] =
            sixDigits(static_cast<long long>(uniform(95000, 105000)));
      return cornerDone(n);
    }
    case 'C': {
      const int n = v[0] - '0';
      if (n == 1) {
        s.cornerMode = 'C';
        s.nextCorner = 1;
      }
      if (s.cornerMode != 'C' || n != s.nextCorner) return nak;
      // A load-cell signal below 0.0100 mV/V cannot be resolved.
      if (std::atoi(v.c_str() + 1) < 100) return refuse("ERR 90");
      if (n <= 4) s.params["f" + std::to_string(n)] = v.substr(1);
      return cornerDone(n);
    }
  }
  return nak;
}

}  // namespace trv4::scalesim
