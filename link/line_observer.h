// What the scale link tells about every exchange on the line, for the service tools: the link
// statistics and the traffic monitor. The link reports what it sent and received as it handled
// it; it never waits on an observer, and an observer never changes what the link does.
#pragma once

#include <string_view>

namespace trv4 {

// What the link made of text it took from the line.
enum class RxKind : unsigned char {
  StatusReply,   // a status frame filed in the scale's status mailbox
  Reply,         // a frame filed in the scale's command mailbox (an answer, ACK or NAK)
  Echo,          // the line's echo of the request just sent
  WrongAddress,  // a whole frame from a scale that was not asked: not filed anywhere
  Dropped,       // a frame the link did not file (a status frame too short, no scale served)
  Noise,         // text without a frame: before an STX, or a line that streams past the limit
};

class LineObserver {
 public:
  virtual ~LineObserver() = default;
  // A request frame written to the line for scale (0..29, -1 for a broadcast); status is true
  // for a status request.
  virtual void sent(int scale, bool status, std::string_view frame) = 0;
  // Text taken from the line while scale's exchange was open (the scale served last); a reply
  // to a broadcast is told under the scale that sent it.
  virtual void received(int scale, RxKind kind, std::string_view bytes) = 0;
  // The exchange of scale ended unanswered; leftover is the part of a frame that had arrived.
  virtual void timedOut(int scale, std::string_view leftover) = 0;
};

}  // namespace trv4
