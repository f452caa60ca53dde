// Which replies on a line the PC took at once and which it lost, told from outside: from the
// requests the scales received and the bytes the line carried back, with their times. A reply is
// taken at once when the next request follows its end byte within a few milliseconds; a PC that
// lost it waits for its time-out and its scan timer instead.
#pragma once

#include <string>
#include <vector>

namespace trv4::scalesim {

// One request the scales received (its whole frame), or bytes the line carried to the PC (a
// reply, the line's echo, noise), at a time in milliseconds.
struct LineEvent {
  double atMs = 0;
  bool request = false;
  std::string bytes;
};

// The PC's time-outs, as its configuration file sets them, and what counts as at once.
struct TallyRules {
  double statusReplyTimeoutMs = 50;
  double commandReplyTimeoutMs = 300;
  double charTimeoutMs = 20;
  double scanDelayMs = 100;
  double atOnceMs = 15;
};

struct ReplyTally {
  int exchanges = 0;  // requests followed by another request
  int timely = 0;     // answered by a whole frame from the scale asked, within the time-outs
  int taken = 0;      // of those, followed by the next request at once
  std::vector<double> lostEndsMs;  // when the end byte of each reply not taken came
  int lost() const { return timely - taken; }
};

// The tally of a line. An exchange runs from one request to the next; its reply is the first
// whole frame (an STX to the next ETX) that carries the address asked and is not the request's
// echo. It is timely when the line's first byte after the request came before the PC's first scan
// tick at or after the reply time-out (bytes that come before that tick hold the exchange open, as
// on a slow line whose request is still on the wire when the time-out starts), and every later byte
// within the character time-out of the byte before.
ReplyTally tallyReplies(const std::vector<LineEvent>& line, const TallyRules& rules = {});

}  // namespace trv4::scalesim
