// The scan cycle and the reception of replies: polls the enabled scales in turn on BlockTimer,
// sends queued commands between the polls, files replies in the mailboxes and times out
// unanswered exchanges on CharTimer.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "link/line_observer.h"
#include "link/link_state.h"
#include "link/reception.h"
#include "link/scan_display.h"
#include "link/serial_port.h"

namespace trv4 {

// The single-scale window's part in the cycle: the "Single Scale" check mark and the selected
// address ("A".."^" or "@").
struct SingleScaleSource {
  std::function<bool()> checked;
  std::function<std::string()> selection;
};

// Receive text kept while waiting for a frame's ETX. The longest reply the scales send is a few
// dozen characters; a line that goes past this without a usable frame is treated as noise.
inline constexpr std::size_t kRxBufferLimit = 512;

class ScaleLink {
 public:
  // Creates BlockTimer (enabled, 100 ms) and CharTimer (disabled, 5000 ms) and binds the port's
  // receive event. The first tick comes 100 ms later.
  ScaleLink(LinkState& state, SerialPort& port, Toolkit& toolkit, ScanDisplay& display,
            SingleScaleSource single);
  ~ScaleLink();
  ScaleLink(const ScaleLink&) = delete;
  ScaleLink& operator=(const ScaleLink&) = delete;

  // One scan step: on every BlockTimer tick and straight after an accepted reply.
  void BlockTimer_Timer();
  // The exchange time-out.
  void CharTimer_Timer();
  // The port's receive event.
  void ComX_OnComm();

  Timer& BlockTimer() { return *blockTimer_; }
  Timer& CharTimer() { return *charTimer_; }

  // Told of every frame sent, text received and time-out, in the order added. Not owned; each
  // stays until removed or the link is destroyed.
  void addObserver(LineObserver& observer) { observers_.push_back(&observer); }
  void removeObserver(LineObserver& observer) { std::erase(observers_, &observer); }

  // Another tool takes the line: the cycle sends nothing, an open exchange is dropped without
  // being reported, and every receive event goes to onReceive instead. resume() gives the line
  // back; the cycle goes on at its next step.
  void suspend(std::function<void()> onReceive);
  void resume();
  bool suspended() const { return suspended_; }

  // Whether the cycle polls scale i (0..29) as things stand: in single-scale mode with an
  // address selected only that scale, otherwise the scales marked 1 in ScanList.
  bool serves(int scale) const;

  // The exchange in progress, which only the link keeps.
  struct Exchange {
    std::string RxBuffer;       // received text not yet taken as a frame
    std::string LastSentFrame;  // the request written last: its echo is dropped
    int ReplyTimeout = 0;
    int ScanDelay = 0;  // 0 until the first request has been sent
  };
  const Exchange& exchange() const { return exchange_; }

 private:
  // Ends the open exchange as a time-out does, and stops receive events until the next request.
  void abandonExchange();
  // Sends one request frame and arms the exchange time-out.
  void send(const std::string& frame, bool status);
  // Files one piece of the receive buffer; true when it was a reply taken.
  bool file(const RxPiece& piece);
  // Tells the observers of one piece at the front of the receive buffer.
  void reportPiece(const RxPiece& piece);
  // In single-scale mode with an address selected, that scale's index; else -1.
  int alone() const;
  // Arms CharTimer and remembers when it is due.
  void armCharTimer(int ms);
  // Puts back the time-out that was in force before another scale's frame came.
  void restoreTimeout();

  static constexpr int64_t kNotDue = -1;

  LinkState& state_;
  SerialPort& port_;
  Toolkit& toolkit_;
  ScanDisplay& display_;
  SingleScaleSource single_;
  Exchange exchange_;
  std::unique_ptr<Timer> blockTimer_;
  std::unique_ptr<Timer> charTimer_;
  std::vector<LineObserver*> observers_;
  int exchangeScale_ = -1;       // the scale of the request sent last, -1 for a broadcast
  std::string answeredBy_;       // addresses that answer the open exchange; "" after a broadcast
  int64_t charDueAt_ = kNotDue;  // steady ms at which CharTimer is due while it runs
  int64_t dueBeforeText_ = kNotDue;  // when it was due before the received text began
  bool suspended_ = false;
  std::function<void()> suspendedReceive_;
};

}  // namespace trv4
