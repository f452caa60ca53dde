#include "tools/scalesim/line_timing.h"

#include <algorithm>
#include <cctype>

#include "tools/scalesim/scale_model.h"

namespace trv4::scalesim {

namespace {

constexpr size_t kMaxFrame = 256;         // longer "frames" are line garbage
constexpr size_t kMaxScheduled = 100000;  // output entries waiting
constexpr int64_t kStreamMinGapUs = 1000;
constexpr size_t kStreamBlock = 256;  // bytes per millisecond of a stream without a bit rate

}  // namespace

int bitsPerCharacter(std::string_view format) {
  if (format.size() != 3) return 0;
  char data = format[0], parity = static_cast<char>(std::toupper(format[1])), stop = format[2];
  if (data < '5' || data > '8' || (stop != '1' && stop != '2')) return 0;
  if (parity != 'N' && parity != 'E' && parity != 'O' && parity != 'M' && parity != 'S') return 0;
  return 1 + (data - '0') + (parity == 'N' ? 0 : 1) + (stop - '0');
}

LineTiming::LineTiming(int baud, int bitsPerChar, bool echo, int burst)
    : echo_(echo), burst_(burst) {
  if (baud > 0 && bitsPerChar > 0) charUs_ = (int64_t{bitsPerChar} * 1'000'000 + baud - 1) / baud;
}

void LineTiming::setPortSettings(int baud, std::string format) {
  portBaud_ = baud;
  portFormat_ = std::move(format);
}

bool LineTiming::carries(int baud, const std::string& format) const {
  if (portBaud_ == 0 || baud == 0) return true;
  return baud == portBaud_ && (format.empty() || format == portFormat_);
}

void LineTiming::receive(
    std::string_view bytes, int64_t nowUs,
    const std::function<void(const std::string& frame, int64_t atUs)>& onFrame) {
  if (echo_ && charUs_ == 0 && !bytes.empty() && out_.size() <= kMaxScheduled) {
    // Without a bit rate the echo of one write comes back as one piece, ahead of any reply.
    put({std::max(nowUs, rxFreeUs_), std::string(bytes)});
  }
  std::string echo;  // echoed characters not yet handed over
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    int64_t doneUs = std::max(nowUs, rxFreeUs_) + charUs_;
    rxFreeUs_ = doneUs;
    if (echo_ && charUs_ > 0) {
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
      onFrame(f, doneUs);
    } else if (frame_.size() >= kMaxFrame) {
      inFrame_ = false;
      frame_.clear();
    } else {
      frame_ += c;
    }
  }
}

void LineTiming::schedule(int64_t atUs, int64_t dueUs, const std::string& bytes) {
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

void LineTiming::put(LineOutput o) {
  auto pos = std::upper_bound(out_.begin(), out_.end(), o.atUs,
                              [](int64_t t, const LineOutput& x) { return t < x.atUs; });
  out_.insert(pos, std::move(o));
}

void LineTiming::stream(char address) {
  streamer_ = address;
  // At a bit rate one character per character time, at least a millisecond apart; without one
  // the line takes whatever comes, so the scale pours out a block every millisecond. Characters
  // with no pause between them are handed over in groups.
  const int64_t gap = std::max(charUs_, kStreamMinGapUs);
  streamChars_ = charUs_ == 0 ? kStreamBlock : gap == charUs_ ? groupSize() : 1;
  streamStepUs_ = charUs_ == 0 ? gap : gap * static_cast<int64_t>(streamChars_);
  streamNextUs_ = streamStepUs_;
}

std::optional<int64_t> LineTiming::nextOutputTime() const {
  std::optional<int64_t> next;
  if (!out_.empty()) next = out_.front().atUs;
  if (streamer_ && (!next || streamNextUs_ < *next)) next = streamNextUs_;
  return next;
}

void LineTiming::fillStream(int64_t untilUs) {
  if (!streamer_) return;
  static const std::string kChatter = "0123456789 -+.kgNET";
  while (streamNextUs_ <= untilUs) {
    LineOutput o{streamNextUs_, {}};
    for (size_t k = 0; k < streamChars_; ++k) o.bytes += kChatter[streamPos_++ % kChatter.size()];
    put(std::move(o));
    streamNextUs_ += streamStepUs_;
  }
}

std::vector<LineOutput> LineTiming::takeOutput(int64_t nowUs) {
  fillStream(nowUs);
  std::vector<LineOutput> due;
  while (!out_.empty() && out_.front().atUs <= nowUs) {
    due.push_back(std::move(out_.front()));
    out_.pop_front();
  }
  return due;
}

}  // namespace trv4::scalesim
