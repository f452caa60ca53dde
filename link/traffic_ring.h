// The last frames and fragments of the line, kept from start-up in a ring of fixed size so the
// seconds before a fault can be read after it. Every slot takes its full size with the first
// entry, so recording allocates nothing after it and a flooding line cannot make the program
// grow; a ring that is never fed costs only its slots.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/toolkit.h"
#include "link/line_observer.h"

namespace trv4 {

inline constexpr std::size_t kTrafficCapacity = 10000;
// Bytes an entry keeps: more than any frame; a longer run of noise keeps its start, so a flooding
// line can never make the ring hold more than capacity times this.
inline constexpr std::size_t kTrafficEntryBytes = 600;

enum class TrafficKind : unsigned char {
  StatusRequest,
  Command,
  StatusReply,
  Reply,
  Echo,
  Acknowledge,  // an answer that is only ACK or NAK
  TimeOut,
  Fragment,      // part of a frame: too short to file, or left at a time-out
  WrongAddress,  // a frame from a scale that was not asked, not filed
  Noise,
};

struct TrafficEntry {
  int64_t wallMs = 0;     // system clock, ms since 1970
  uint64_t sequence = 0;  // counts every entry since start-up, from 1
  int scale = -1;         // 0..29, -1 for a broadcast
  bool outgoing = false;
  TrafficKind kind = TrafficKind::Noise;
  std::string bytes;
  std::size_t omitted = 0;  // bytes past kTrafficEntryBytes, not kept
};

class TrafficRing : public LineObserver {
 public:
  explicit TrafficRing(Toolkit& toolkit, std::size_t capacity = kTrafficCapacity);

  void sent(int scale, bool status, std::string_view frame) override;
  void received(int scale, RxKind kind, std::string_view bytes) override;
  void timedOut(int scale, std::string_view leftover) override;

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return slots_.size(); }
  // i from 0, the oldest entry kept, to size() - 1, the newest.
  const TrafficEntry& at(std::size_t i) const;
  // The sequence number of the newest entry, 0 when none was ever recorded.
  uint64_t lastSequence() const { return sequence_; }
  void clear();

 private:
  void record(int scale, bool outgoing, TrafficKind kind, std::string_view bytes);

  Toolkit& toolkit_;
  std::vector<TrafficEntry> slots_;
  std::size_t next_ = 0;  // slot the next entry goes to
  std::size_t size_ = 0;
  uint64_t sequence_ = 0;
  bool roomTaken_ = false;
};

}  // namespace trv4
