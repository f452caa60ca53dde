#include "link/reception.h"

#include <algorithm>

#include "link/frame.h"
#include "link/link_state.h"

namespace trv4 {

int replySlot(char address, const ExchangeView& exchange) {
  const int carried = scaleIndex(std::string(1, address));
  // After a broadcast every scale speaks for itself.
  if (exchange.answeredBy.empty())
    return carried < std::clamp(exchange.scaleCount, 1, kMaxScales) ? carried : -1;
  return exchange.answeredBy.find(address) != std::string_view::npos ? exchange.scanIndex : -1;
}

std::vector<RxPiece> splitReceived(std::string_view rx, const ExchangeView& exchange) {
  std::vector<RxPiece> pieces;
  for (std::size_t at = 0;;) {
    const std::string_view rest = rx.substr(at);
    const std::size_t etx = rest.find(ETX);
    if (etx == std::string_view::npos) break;
    RxPiece piece;
    // Positions counted from 1: p the first ETX, s the first STX (0 when there is none).
    const long p = static_cast<long>(etx) + 1;
    const std::size_t stx = rest.find(STX);
    const long s = stx == std::string_view::npos ? 0 : static_cast<long>(stx) + 1;
    piece.length = p;
    piece.stx = s;
    piece.scale = exchange.scanIndex;
    if (s > 0 && p - s > 4 && exchange.scanIndex >= 0 && exchange.scanIndex < kMaxScales) {
      const std::string_view frame = rest.substr(s - 1, p - s + 1);
      const int slot = replySlot(frame[1], exchange);
      if (frame == exchange.lastSent) {
        piece.kind = RxKind::Echo;  // the line's echo of our own request
      } else if (slot < 0) {
        piece.kind = RxKind::WrongAddress;  // a late answer, or a scale that took another's address
      } else if (rest[2] == '?') {
        // The reply's kind is told by the third character of what was left, even when text
        // stands before the STX. A shorter status frame is dropped; the exchange ends by time-out.
        piece.scale = slot;
        if (p - s > 7) {
          piece.kind = RxKind::StatusReply;
          piece.filed = rest.substr(s + 2, p - s - 5);
        }
      } else {
        piece.scale = slot;
        piece.kind = RxKind::Reply;
        piece.filed = rest;
      }
    }
    pieces.push_back(piece);
    // Only a reply filed ends the event. Text that held no reply (the tail of a frame that
    // came after the last exchange ended, a frame too short) is dropped and what follows is
    // read now: a whole reply behind it may be the last text that comes.
    if (piece.kind == RxKind::StatusReply || piece.kind == RxKind::Reply) break;
    at += static_cast<std::size_t>(p);
  }
  return pieces;
}

}  // namespace trv4
