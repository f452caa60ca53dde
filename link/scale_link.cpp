#include "link/scale_link.h"

#include <algorithm>

#include "link/frame.h"
#include "link/scan_choice.h"
#include "link/transliterate.h"

namespace trv4 {

namespace {

// A timer interval of 0 never ticks: a time-out or scan delay of 0 (an unreadable timing in the
// configuration file) would hold an exchange open, or stop the cycle, for good. The link arms
// its timers with at least 1 ms.
int timerInterval(int ms) {
  return std::max(ms, 1);
}

}  // namespace

ScaleLink::ScaleLink(LinkState& state, SerialPort& port, Toolkit& toolkit, ScanDisplay& display,
                     SingleScaleSource single)
    : state_(state), port_(port), toolkit_(toolkit), display_(display), single_(std::move(single)) {
  blockTimer_ = toolkit.createTimer([this] { BlockTimer_Timer(); });
  blockTimer_->setInterval(100);
  blockTimer_->setEnabled(true);
  charTimer_ = toolkit.createTimer([this] { CharTimer_Timer(); });
  charTimer_->setInterval(5000);
  port_.setOnComm([this] { ComX_OnComm(); });
}

ScaleLink::~ScaleLink() {
  port_.setOnComm(nullptr);
}

void ScaleLink::abandonExchange() {
  charTimer_->setEnabled(false);
  exchange_.RxBuffer.clear();
  port_.setRThreshold(0);
}

void ScaleLink::ComX_OnComm() {
  if (suspended_) {
    if (suspendedReceive_) suspendedReceive_();
    return;
  }
  if (port_.commEvent() != kCommEventReceive) return;
  if (port_.inBufferCount() == 0) return;

  std::string& rx = exchange_.RxBuffer;
  // The time-out in force before this text began, for a frame that turns out to be another
  // scale's: the exchange then goes on as if it had not come.
  if (rx.empty()) dueBeforeText_ = charTimer_->enabled() ? charDueAt_ : kNotDue;
  armCharTimer(state_.CharTimeout);
  rx += port_.input();

  const ExchangeView asked{exchange_.LastSentFrame, state_.ScanIndex, answeredBy_,
                           state_.ScaleCount};
  for (const RxPiece& piece : splitReceived(rx, asked)) {
    const bool accepted = file(piece);
    if (!observers_.empty()) reportPiece(piece);
    if (accepted) BlockTimer_Timer();
    // Keep only what follows the piece. When the scan step above has sent a new request the
    // buffer is already empty.
    if (static_cast<std::size_t>(piece.length) >= rx.size()) {
      rx.clear();
    } else {
      rx.erase(0, static_cast<std::size_t>(piece.length));
    }
    if (piece.kind == RxKind::WrongAddress && rx.empty()) restoreTimeout();
  }

  // A line that streams characters without a usable frame would re-arm CharTimer forever and
  // stall the cycle; past the limit the exchange ends as a time-out would.
  if (rx.size() > kRxBufferLimit) {
    for (LineObserver* o : observers_) o->timedOut(exchangeScale_, rx);
    abandonExchange();
  }
}

bool ScaleLink::file(const RxPiece& piece) {
  if (piece.kind == RxKind::StatusReply) {
    state_.StatusReply[piece.scale] = piece.filed;
    charTimer_->setEnabled(false);
    blockTimer_->setEnabled(false);
    display_.DispWeight(static_cast<int16_t>(piece.scale), piece.filed);
    port_.setRThreshold(0);
    return true;
  }
  if (piece.kind == RxKind::Reply) {
    state_.CommandReply[piece.scale] = piece.filed;
    charTimer_->setEnabled(false);
    port_.setRThreshold(0);
    return true;
  }
  return false;
}

void ScaleLink::armCharTimer(int ms) {
  const int interval = timerInterval(ms);
  charTimer_->restart(interval);
  charDueAt_ = toolkit_.steadyMs() + interval;
}

void ScaleLink::restoreTimeout() {
  if (dueBeforeText_ == kNotDue) {
    charTimer_->setEnabled(false);
    return;
  }
  const int64_t left = dueBeforeText_ - toolkit_.steadyMs();
  charTimer_->restart(timerInterval(static_cast<int>(std::min<int64_t>(left, 1 << 30))));
  charDueAt_ = dueBeforeText_;
}

void ScaleLink::reportPiece(const RxPiece& piece) {
  const std::string_view text = std::string_view(exchange_.RxBuffer).substr(0, piece.length);
  for (LineObserver* o : observers_) {
    if (piece.stx == 0 || piece.stx > piece.length) {
      o->received(piece.scale, RxKind::Noise, text);
      continue;
    }
    if (piece.stx > 1) o->received(piece.scale, RxKind::Noise, text.substr(0, piece.stx - 1));
    o->received(piece.scale, piece.kind, text.substr(piece.stx - 1));
  }
}

void ScaleLink::CharTimer_Timer() {
  // On a busy machine the time-out's turn can come before the receive event of bytes that were
  // there in time: they are taken first, and the exchange goes on as if they had come before.
  const int64_t due = charDueAt_;
  if (port_.readWaiting() && (!charTimer_->enabled() || charDueAt_ != due)) return;
  charTimer_->setEnabled(false);
  for (LineObserver* o : observers_) o->timedOut(exchangeScale_, exchange_.RxBuffer);
  exchange_.RxBuffer.clear();
}

void ScaleLink::suspend(std::function<void()> onReceive) {
  suspended_ = true;
  suspendedReceive_ = std::move(onReceive);
  blockTimer_->setEnabled(false);
  charTimer_->setEnabled(false);
  exchange_.RxBuffer.clear();
  port_.setRThreshold(0);
}

void ScaleLink::resume() {
  if (!suspended_) return;
  suspended_ = false;
  suspendedReceive_ = nullptr;
  exchange_.RxBuffer.clear();
  port_.setRThreshold(0);
  blockTimer_->restart(timerInterval(state_.StatusScanDelay));
}

int ScaleLink::alone() const {
  // A selection that is no address (for example an empty box) counts as "@": the normal cycle
  // runs.
  if (!single_.checked || !single_.checked()) return -1;
  return scaleIndex(single_.selection ? single_.selection() : std::string());
}

bool ScaleLink::serves(int scale) const {
  return servedNow(state_, scale, alone());
}

void ScaleLink::BlockTimer_Timer() {
  if (suspended_) return;
  LinkState& st = state_;
  const int count = std::clamp(st.ScaleCount, 1, kMaxScales);
  if (st.ScanIndex < 0 || st.ScanIndex >= count) st.ScanIndex = count - 1;

  st.SingleScaleMode = (single_.checked && single_.checked()) ? 1 : 0;

  // Age the display of the scale served last. The count stops at 0 (it would otherwise run
  // towards overflow while the port stays closed); a scale at 0 stays blanked at every step.
  int& hold = st.DisplayHold[st.ScanIndex];
  if (hold > 0) --hold;
  if (hold < 1) display_.blankPanel(st.ScanIndex);

  // Closed port, or an exchange still open: BlockTimer keeps its interval and ticks again. A
  // reply's handler stops it before calling this step, so it is started again here: a port
  // that closed while the reply was read must not end the cycle for good.
  if (!port_.portOpen() || charTimer_->enabled()) {
    blockTimer_->setEnabled(true);
    return;
  }

  blockTimer_->setEnabled(false);
  display_.setAddressHighlight(st.ScanIndex, false);

  const ScanChoice next = chooseNextScale(st, st.SingleScaleMode == 1 ? alone() : -1);
  st.ScanIndex = next.scanIndex;
  Exchange& x = exchange_;
  if (next.found) {
    display_.setAddressHighlight(st.ScanIndex, true);

    const std::string address(1, scaleAddress(st.ScanIndex));
    std::string& broadcast = st.CommandQueue[kBroadcastSlot];
    std::string& own = st.CommandQueue[st.ScanIndex];
    std::string head;
    bool status = false;
    exchangeScale_ = st.ScanIndex;
    if (!broadcast.empty()) {
      // Broadcast text goes out as typed; the chosen scale's own command waits.
      head = std::string(1, STX) + "@" + broadcast;
      broadcast.clear();
      answeredBy_.clear();
      exchangeScale_ = -1;
      x.ReplyTimeout = st.CommandReplyTimeout;
      x.ScanDelay = st.CommandScanDelay;
    } else if (own.empty()) {
      head = TransliterateGreek(std::string(1, STX) + address + "?0");
      answeredBy_ = address;
      status = true;
      x.ReplyTimeout = st.StatusReplyTimeout;
      x.ScanDelay = st.StatusScanDelay;
    } else {
      head = TransliterateGreek(std::string(1, STX) + address + own);
      // A scale given a new address ("S2" and the address) may answer under it already.
      answeredBy_ = own.size() > 2 && own.compare(0, 2, "S2") == 0 ? address + own[2] : address;
      own.clear();
      x.ReplyTimeout = st.CommandReplyTimeout;
      x.ScanDelay = st.CommandScanDelay;
    }
    send(head + FrameBcc(head) + ETX, status);
  }

  // Before any request was ever sent ScanDelay has no value yet: the status scan delay applies.
  const int delay = x.ScanDelay > 0 ? x.ScanDelay : st.StatusScanDelay;
  blockTimer_->restart(timerInterval(delay));
}

void ScaleLink::send(const std::string& frame, bool status) {
  port_.input();  // whatever is still waiting belongs to an earlier exchange
  exchange_.RxBuffer.clear();
  port_.setRThreshold(1);
  armCharTimer(exchange_.ReplyTimeout);
  port_.output(frame);
  exchange_.LastSentFrame = frame;
  for (LineObserver* o : observers_) o->sent(exchangeScale_, status, frame);
}

}  // namespace trv4
