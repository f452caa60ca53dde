#include "tools/scalesim/reply_tally.h"

#include <cmath>

#include "tools/scalesim/scale_model.h"

namespace trv4::scalesim {

namespace {

// Whether `text` holds a whole frame from `address` other than `echo`. A frame runs from an STX to
// the next ETX, as the PC reads it: an STX inside a frame cut short starts no frame of its own.
bool holdsReply(const std::string& text, char address, const std::string& echo) {
  for (size_t stx = text.find(kStx); stx != std::string::npos;) {
    const size_t etx = text.find(kEtx, stx);
    if (etx == std::string::npos) return false;
    const std::string frame = text.substr(stx, etx - stx + 1);
    if (frame.size() >= 5 && frame[1] == address && frame != echo) return true;
    stx = text.find(kStx, etx);
  }
  return false;
}

}  // namespace

ReplyTally tallyReplies(const std::vector<LineEvent>& line, const TallyRules& rules) {
  ReplyTally tally;
  for (size_t i = 0; i < line.size(); ++i) {
    if (!line[i].request) continue;
    const LineEvent& request = line[i];
    size_t next = i + 1;
    while (next < line.size() && !line[next].request) ++next;
    if (next == line.size()) break;
    ++tally.exchanges;
    if (request.bytes.size() < 5) continue;
    const bool status = request.bytes.compare(2, 2, "?0") == 0;
    const double timeout = status ? rules.statusReplyTimeoutMs : rules.commandReplyTimeoutMs;
    // A millisecond short of the tick: which of the two comes first there is open.
    double deadline = request.atMs + std::ceil(timeout / rules.scanDelayMs) * rules.scanDelayMs - 1;
    std::string text;
    double endAt = -1;
    for (size_t k = i + 1; k < next && endAt < 0; ++k) {
      if (line[k].atMs > deadline) break;  // the exchange was over before these came
      text += line[k].bytes;
      deadline = line[k].atMs + rules.charTimeoutMs;
      if (holdsReply(text, request.bytes[1], request.bytes)) endAt = line[k].atMs;
    }
    if (endAt < 0) continue;
    ++tally.timely;
    if (line[next].atMs - endAt <= rules.atOnceMs) {
      ++tally.taken;
    } else {
      tally.lostEndsMs.push_back(endAt);
    }
  }
  return tally;
}

}  // namespace trv4::scalesim
