// Reception as a function: what the received text holds, split into pieces, given what the
// link sent last. ScaleLink::ComX_OnComm applies the pieces (files them, tells the observers,
// takes the next scan step); here nothing changes state, so each rule can be checked by a table.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "link/line_observer.h"

namespace trv4 {

// What the open exchange asked, as reception needs it.
struct ExchangeView {
  std::string_view lastSent;    // the request frame written last (its echo is dropped)
  int scanIndex = 0;            // the scale served last
  std::string_view answeredBy;  // addresses that answer it; "" after a broadcast
  int scaleCount = 30;
};

// One ETX-terminated piece from the front of the receive buffer.
struct RxPiece {
  long length = 0;  // up to and including its ETX (the first ETX of what was left)
  long stx = 0;     // position of the first STX in what was left, from 1; 0 when there is none
  RxKind kind = RxKind::Dropped;  // never Noise: the text before the STX is told as noise
  int scale = 0;      // told under: the mailbox slot a reply is filed in, else scanIndex
  std::string filed;  // StatusReply: the payload; Reply: all that was left, as it stood
};

// The mailbox slot a reply carrying `address` is filed under, -1 when it answers no request of
// the open exchange: the scale asked (or, after "S2", the address it was just given), or after a
// broadcast the scale whose address it carries.
int replySlot(char address, const ExchangeView& exchange);

// The pieces of rx one receive event takes, in order: a dropped echo, a frame for another
// address or text that holds no reply does not use up the event, so the pieces go on after them
// and end with the first reply filed, or when no ETX is left. Text after the last piece stays in
// the buffer.
std::vector<RxPiece> splitReceived(std::string_view rx, const ExchangeView& exchange);

}  // namespace trv4
