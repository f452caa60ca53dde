// The serial line between the PC and the scales, in time: the PC's bytes taking their character
// times and gathered into frames, the line's echo, the scales' replies each waiting for the line to
// be free, handed over a character or a burst at a time, and a babbling scale's endless stream.
// Times are in microseconds on the caller's clock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trv4::scalesim {

// Bytes that are complete on the line at time atUs.
struct LineOutput {
  int64_t atUs = 0;
  std::string bytes;
};

// A request frame as the scales received it.
struct ReceivedFrame {
  int64_t atUs = 0;    // when its ETX was complete
  std::string bytes;   // STX .. ETX
  bool valid = false;  // block check right
};

// Bits per character for a frame format like "7E1", "8N1", "8E2": start + data + parity + stop.
// 0 when malformed.
int bitsPerCharacter(std::string_view format);

class LineTiming {
 public:
  // baud 0: bytes take no time. burst: characters handed over at once at most (0 or 1: one by
  // one), only with a bit rate.
  LineTiming(int baud, int bitsPerChar, bool echo, int burst);

  // Time one character takes on the line (0 without a bit rate).
  int64_t characterTimeUs() const { return charUs_; }

  // Bytes from the PC; the first is being received at nowUs. Each whole frame (STX .. ETX, at
  // most 256 bytes) goes to onFrame with the time its ETX was complete; bytes between frames are
  // dropped. A line that echoes carries them back first.
  void receive(std::string_view bytes, int64_t nowUs,
               const std::function<void(const std::string& frame, int64_t atUs)>& onFrame);
  // Puts a reply to a request that ended at atUs on the line from dueUs, or once the line is free
  // for all of it.
  void schedule(int64_t atUs, int64_t dueUs, const std::string& bytes);
  // From now on a scale sends characters without end (the stream fault).
  void stream(char address);
  std::optional<char> streamer() const { return streamer_; }

  // When the next output byte is complete on the line, if any is scheduled.
  std::optional<int64_t> nextOutputTime() const;
  // All output complete by nowUs, in order, removed from the schedule.
  std::vector<LineOutput> takeOutput(int64_t nowUs);

  // The bit rate and frame format the PC's port is set to; 0 while unknown.
  void setPortSettings(int baud, std::string format);
  // Whether a scale listening at baud in format (0 or "": any) hears the PC's port.
  bool carries(int baud, const std::string& format) const;

 private:
  // Adds an output in time order, after those at the same time.
  void put(LineOutput o);
  size_t groupSize() const { return burst_ > 1 ? static_cast<size_t>(burst_) : 1; }
  void fillStream(int64_t untilUs);

  int64_t charUs_ = 0;
  bool echo_ = false;
  int burst_ = 0;
  int portBaud_ = 0;
  std::string portFormat_;
  // Receiving.
  std::string frame_;
  bool inFrame_ = false;
  int64_t rxFreeUs_ = 0;  // when the receive side of the line is free again
  // Sending: outputs in time order, and the replies holding the send side, [start, end) in time
  // order, until they are over.
  std::deque<LineOutput> out_;
  std::deque<std::pair<int64_t, int64_t>> sending_;
  // A streaming scale: its next output's time, the characters in each and the time between
  // them, and the position in its endless text.
  std::optional<char> streamer_;
  int64_t streamNextUs_ = 0;
  size_t streamChars_ = 1;
  int64_t streamStepUs_ = 0;
  uint64_t streamPos_ = 0;
};

}  // namespace trv4::scalesim
