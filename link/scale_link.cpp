#include "link/scale_link.h"

#include <algorithm>

#include "link/frame.h"
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
  state_.RxBuffer.clear();
  port_.setRThreshold(0);
}

void ScaleLink::ComX_OnComm() {
  if (suspended_) {
    if (suspendedReceive_) suspendedReceive_();
    return;
  }
  if (port_.commEvent() != kCommEventReceive) return;
  if (port_.inBufferCount() == 0) return;

  std::string& rx = state_.RxBuffer;
  // The time-out in force before this text began, for a frame that turns out to be another
  // scale's: the exchange then goes on as if it had not come.
  if (rx.empty()) dueBeforeText_ = charTimer_->enabled() ? charDueAt_ : kNotDue;
  armCharTimer(state_.CharTimeout);
  rx += port_.input();

  // One frame per receive event, except that a dropped echo or a frame from another address
  // does not use up the event: the port may hand over several frames in one read, and the reply
  // must not wait for an event that never comes.
  bool more = true;
  for (std::size_t etx = rx.find(ETX); more && etx != std::string::npos; etx = rx.find(ETX)) {
    more = false;
    // Positions counted from 1: p the first ETX, s the first STX (0 when there is none).
    const long p = static_cast<long>(etx) + 1;
    const std::size_t stx = rx.find(STX);
    const long s = stx == std::string::npos ? 0 : static_cast<long>(stx) + 1;

    int scale = state_.ScanIndex;
    RxKind kind = RxKind::Dropped;
    bool accepted = false;  // filed: the next scan step follows at once
    if (s > 0 && p - s > 4 && scale >= 0 && scale < kMaxScales) {
      const std::string frame = rx.substr(s - 1, p - s + 1);
      const int slot = replySlot(frame[1]);
      if (frame == state_.LastSentFrame) {
        kind = RxKind::Echo;  // the line's echo of our own request
        more = true;
      } else if (slot < 0) {
        kind = RxKind::WrongAddress;  // a late answer, or a scale that took another's address
        more = true;
      } else if (rx[2] == '?') {
        scale = slot;
        // The reply's kind is told by the third character of the whole buffer, even when text
        // stands before the STX.
        if (p - s > 7) {
          const std::string payload = rx.substr(s + 2, p - s - 5);
          state_.StatusReply[slot] = payload;
          charTimer_->setEnabled(false);
          blockTimer_->setEnabled(false);
          display_.DispWeight(static_cast<int16_t>(slot), payload);
          port_.setRThreshold(0);
          kind = RxKind::StatusReply;
          accepted = true;
        }
        // A shorter status frame is dropped; the exchange ends by time-out.
      } else {
        scale = slot;
        state_.CommandReply[slot] = rx;
        charTimer_->setEnabled(false);
        port_.setRThreshold(0);
        kind = RxKind::Reply;
        accepted = true;
      }
    }
    if (!observers_.empty()) reportPiece(scale, std::string_view(rx).substr(0, p), s, p, kind);
    if (accepted) BlockTimer_Timer();

    // Keep only what follows the first ETX. When the scan step above has sent a new request
    // the buffer is already empty.
    if (static_cast<std::size_t>(p) >= rx.size()) {
      rx.clear();
    } else {
      rx.erase(0, p);
    }
    if (kind == RxKind::WrongAddress && rx.empty()) restoreTimeout();
  }

  // A line that streams characters without a usable frame would re-arm CharTimer forever and
  // stall the cycle; past the limit the exchange ends as a time-out would.
  if (rx.size() > kRxBufferLimit) {
    for (LineObserver* o : observers_) o->timedOut(exchangeScale_, rx);
    abandonExchange();
  }
}

int ScaleLink::replySlot(char address) const {
  const int carried = scaleIndex(std::string(1, address));
  // After a broadcast every scale speaks for itself.
  if (answeredBy_.empty())
    return carried < std::clamp(state_.ScaleCount, 1, kMaxScales) ? carried : -1;
  return answeredBy_.find(address) != std::string::npos ? state_.ScanIndex : -1;
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

void ScaleLink::reportPiece(int scale, std::string_view piece, long s, long p, RxKind frameKind) {
  for (LineObserver* o : observers_) {
    if (s == 0 || s > p) {
      o->received(scale, RxKind::Noise, piece);
      continue;
    }
    if (s > 1) o->received(scale, RxKind::Noise, piece.substr(0, s - 1));
    o->received(scale, frameKind, piece.substr(s - 1));
  }
}

void ScaleLink::CharTimer_Timer() {
  charTimer_->setEnabled(false);
  for (LineObserver* o : observers_) o->timedOut(exchangeScale_, state_.RxBuffer);
  state_.RxBuffer.clear();
}

void ScaleLink::suspend(std::function<void()> onReceive) {
  suspended_ = true;
  suspendedReceive_ = std::move(onReceive);
  blockTimer_->setEnabled(false);
  charTimer_->setEnabled(false);
  state_.RxBuffer.clear();
  port_.setRThreshold(0);
}

void ScaleLink::resume() {
  if (!suspended_) return;
  suspended_ = false;
  suspendedReceive_ = nullptr;
  state_.RxBuffer.clear();
  port_.setRThreshold(0);
  blockTimer_->restart(timerInterval(state_.StatusScanDelay));
}

bool ScaleLink::serves(int scale) const {
  const int count = std::clamp(state_.ScaleCount, 1, kMaxScales);
  if (scale < 0 || scale >= count) return false;
  const int selected = scaleIndex(single_.selection ? single_.selection() : std::string());
  if (single_.checked && single_.checked() && selected >= 0) return scale == selected;
  return state_.ScanList[scale] == 1;
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

  bool found = false;
  // A selection that is no address (for example an empty box) counts as "@": the normal cycle
  // runs.
  const int selected = scaleIndex(single_.selection ? single_.selection() : std::string());
  if (st.SingleScaleMode == 1 && selected >= 0) {
    st.ScanIndex = selected;
    found = true;
  } else {
    auto advance = [&] {
      ++st.ScanIndex;
      if (st.ScanIndex > count - 1) st.ScanIndex = 0;
    };
    // Commands first. The scale served last comes up at n == count and does not count there.
    const int start = st.ScanIndex;
    int n = 0;
    while (n < count + 1) {
      ++n;
      advance();
      if (st.ScanList[st.ScanIndex] == 1 && !st.CommandQueue[st.ScanIndex].empty()) break;
    }
    if (n < count) {
      found = true;
    } else {
      // Then the next enabled scale, the one served last included.
      st.ScanIndex = start;
      n = 0;
      while (n < count + 1) {
        ++n;
        advance();
        if (st.ScanList[st.ScanIndex] == 1) break;
      }
      found = n <= count;
    }
  }

  if (found) {
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
      st.ReplyTimeout = st.CommandReplyTimeout;
      st.ScanDelay = st.CommandScanDelay;
    } else if (own.empty()) {
      head = TransliterateGreek(std::string(1, STX) + address + "?0");
      answeredBy_ = address;
      status = true;
      st.ReplyTimeout = st.StatusReplyTimeout;
      st.ScanDelay = st.StatusScanDelay;
    } else {
      head = TransliterateGreek(std::string(1, STX) + address + own);
      // A scale given a new address ("S2" and the address) may answer under it already.
      answeredBy_ = own.size() > 2 && own.compare(0, 2, "S2") == 0 ? address + own[2] : address;
      own.clear();
      st.ReplyTimeout = st.CommandReplyTimeout;
      st.ScanDelay = st.CommandScanDelay;
    }
    send(head + FrameBcc(head) + ETX, status);
  }

  // Before any request was ever sent ScanDelay has no value yet: the status scan delay applies.
  const int delay = st.ScanDelay > 0 ? st.ScanDelay : st.StatusScanDelay;
  blockTimer_->restart(timerInterval(delay));
}

void ScaleLink::send(const std::string& frame, bool status) {
  port_.input();  // whatever is still waiting belongs to an earlier exchange
  state_.RxBuffer.clear();
  port_.setRThreshold(1);
  armCharTimer(state_.ReplyTimeout);
  port_.output(frame);
  state_.LastSentFrame = frame;
  for (LineObserver* o : observers_) o->sent(exchangeScale_, status, frame);
}

}  // namespace trv4
