#include "tools/scalesim/scale_model.h"

#include <algorithm>
#include <utility>

#include "tools/scalesim/calibration.h"
#include "tools/scalesim/parameter_store.h"
#include "tools/scalesim/weighing.h"

namespace trv4::scalesim {

namespace {

constexpr size_t kMaxRecorded = 10000;  // received frames kept

// The scale as its options set it up for the run.
void applySetup(ScaleState& s, const ScaleSetup& setup) {
  if (setup.load) {
    s.load = s.motionFrom = *setup.load;
    s.keepLoad = true;
  }
  if (setup.tare) {
    s.tare = *setup.tare;
    s.net = true;
  }
  s.swing = setup.swing;
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

ScaleNetwork::ScaleNetwork(NetworkOptions options)
    : options_(std::move(options)),
      random_(options_.seed),
      line_(options_.baud, options_.bitsPerChar, options_.echo, options_.burst),
      faults_(options_.faults) {
  for (char a : options_.addresses) {
    ScaleState s;
    s.address = a;
    startParameters(s, random_);
    startLoad(s, options_.movingWeights, random_);
    // Set-ups apply after the random draws, so the other scales' weights stay the same per seed.
    if (auto it = options_.setups.find(a); it != options_.setups.end()) applySetup(s, it->second);
    scales_[a] = s;
  }
  if (auto streamer = faults_.streamer()) line_.stream(*streamer);
}

ScaleState* ScaleNetwork::scale(char address) {
  auto it = scales_.find(address);
  return it == scales_.end() ? nullptr : &it->second;
}

void ScaleNetwork::setLineSettings(int baud, std::string format) {
  line_.setPortSettings(baud, std::move(format));
}

bool ScaleNetwork::hears(const ScaleState& s) const {
  return s.baud ? line_.carries(s.baud, s.format) : line_.carries(options_.baud, options_.format);
}

void ScaleNetwork::receive(std::string_view bytes, int64_t nowUs) {
  line_.receive(bytes, nowUs,
                [this](const std::string& frame, int64_t atUs) { handleFrame(frame, atUs); });
}

std::optional<int64_t> ScaleNetwork::nextOutputTime() const {
  return line_.nextOutputTime();
}

std::vector<LineOutput> ScaleNetwork::takeOutput(int64_t nowUs) {
  return line_.takeOutput(nowUs);
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
  if (!out || line_.streamer() == address) return;
  const bool status = !body.empty() && body[0] == '?';
  std::optional<std::string> bytes = faults_.spoil(
      address, status, *out, [&] { return makeFrame(address, "?" + statusPayload(address, atUs)); },
      random_);
  if (!bytes) return;
  int64_t delay = s->replyDelayUs.value_or(options_.replyDelayUs);
  // Drawn only when set, so runs without jitter keep their random sequence.
  if (options_.replyJitterUs > 0)
    delay +=
        static_cast<int64_t>(random_.next() % static_cast<uint64_t>(options_.replyJitterUs + 1));
  line_.schedule(atUs, atUs + delay, *bytes);
}

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
    case ReplyFault::kWrong:
      return standInAnswer(s, name);
    case ReplyFault::kNak:
      break;
  }
  return out;
}

void ScaleNetwork::advance(ScaleState& s, int64_t nowUs) {
  if (options_.movingWeights) advanceLoad(s, nowUs, settleUs, random_);
}

std::string ScaleNetwork::answer(ScaleState& s, const std::string& body, int64_t atUs) {
  advance(s, atUs);
  updateText(s, atUs);
  if (body.empty()) return std::string(1, kNak);
  if (body[0] == '?') return "?" + statusPayload(s.address, atUs);

  // One-shot and weighing commands.
  if (body.size() == 1) {
    switch (body[0]) {
      case 'Z':
      case 'T':
      case 'G':
        return weighingCommand(s, body[0], atUs);
      case 'R':
        s.net = false;
        s.tare = 0;
        s.display.clear();
        s.cornerMode = 0;
        restoreParameters(s);
        return std::string(1, kAck);
      case kAck:
        // Acknowledges an error on the display; a corner calibration waiting for its next
        // corner goes on.
        if (!s.display.empty() && s.display.front().text.rfind("ERR", 0) == 0) s.display.clear();
        return std::string(1, kAck);
      case kSync:
        return std::string(1, kAck);
      case 'W':
        return storeParameters(s);
      case 'd':
        return lockAnswer(s);
    }
  }
  if (auto read = readParameter(s, body)) return *read;
  if (auto pin = pinCommand(s, body)) return *pin;
  if (auto write = writeParameter(s, body)) return *write;
  if (isCalibration(body)) return calibrate(s, body, atUs, workingTextUs, random_);
  return std::string(1, kNak);
}

void ScaleNetwork::setLoad(char address, double kg, int64_t nowUs) {
  ScaleState* s = scale(address);
  if (!s) return;
  advance(*s, nowUs);
  putLoad(*s, kg, nowUs, settleUs);
}

void ScaleNetwork::showText(char address, const std::string& text, int64_t nowUs,
                            int64_t durationUs) {
  if (ScaleState* s = scale(address)) trv4::scalesim::showText(*s, text, nowUs, durationUs);
}

std::string ScaleNetwork::statusPayload(char address, int64_t nowUs) {
  ScaleState* s = scale(address);
  if (!s) return {};
  advance(*s, nowUs);
  return trv4::scalesim::statusPayload(*s, nowUs);
}

}  // namespace trv4::scalesim
