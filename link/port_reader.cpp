#include "link/port_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

namespace trv4 {

PortReader::PortReader(int fd, std::function<void()> ready, std::function<void()> lost)
    : fd_(fd), ready_(std::move(ready)), lost_(std::move(lost)) {
  held_.reserve(kCapacity);
  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    wakePipe_[0] = wakePipe_[1] = -1;
  }
  thread_ = std::thread([this] { run(); });
}

PortReader::~PortReader() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake();
  thread_.join();
  for (int fd : wakePipe_) {
    if (fd >= 0) ::close(fd);
  }
}

void PortReader::setHold(const Hold& hold) {
  {
    std::lock_guard lock(mutex_);
    if (hold.maxWait == hold_.maxWait && hold.quiet == hold_.quiet &&
        hold.endByte == hold_.endByte) {
      return;
    }
    hold_ = hold;
  }
  wake();  // a shorter hold may make what waits due sooner
}

void PortReader::acknowledge() {
  std::lock_guard lock(mutex_);
  posted_ = false;
}

std::string PortReader::take() {
  std::lock_guard lock(mutex_);
  readAvailableLocked();  // a device gone is told by the reader's thread
  // Copied out, so that held_ keeps its room: the reader's thread never allocates, and what the
  // UI thread takes it also frees (memory freed on one thread and allocated on another can pile
  // up in per-thread caches while a line babbles).
  std::string out = held_;
  held_.clear();
  announced_ = 0;
  endSeen_ = false;
  return out;
}

std::size_t PortReader::held() const {
  std::lock_guard lock(mutex_);
  return held_.size();
}

std::size_t PortReader::expectAnswerTo(const std::string& request) {
  std::lock_guard lock(mutex_);
  // What the last request was answered with, up to its last end byte, and how soon: a request
  // not answered at all, or answered without an end byte, keeps what it had.
  if (!request_.empty() && upToEnd_ > 0) {
    if (answers_.size() >= kRemembered && answers_.count(request_) == 0) answers_.clear();
    answers_[request_] = {upToEnd_, endAfter_};
  }
  request_ = request;
  sentAt_ = Clock::now();
  lastLook_ = sentAt_;
  exchangeBytes_ = 0;
  upToEnd_ = 0;
  expected_ = 0;
  lastWaiting_ = -1;
  const auto known = answers_.find(request);
  if (known != answers_.end() && hold_.maxWait.count() > 0 && hold_.endByte >= 0) {
    expected_ = known->second.length;
    // The first look comes a little after the answer was complete last time, and soon enough
    // that an answer shorter than the last one is handed over well within its owner's time-out.
    firstLook_ = std::clamp<Clock::duration>(known->second.after + 3 * hold_.charTime, lookPeriod(),
                                             4 * lookPeriod());
    nextLook_ = sentAt_ + firstLook_;
    // Until about a character before the answer is due the device is not watched at all: the
    // kernel would wake this thread at every character, though only to find fewer than VMIN
    // there. An answer that comes sooner than last time is found complete when the watch begins.
    const Clock::duration after = known->second.after;
    blindUntil_ = sentAt_ + after - std::min<Clock::duration>(after / 10, hold_.charTime);
  } else {
    blindUntil_ = sentAt_;
  }
  return expected_;
}

void PortReader::setMinimum(std::size_t vmin) {
  bool wakeUp = false;
  {
    std::lock_guard lock(mutex_);
    const bool changed = vmin != vmin_;
    vmin_ = vmin;
    // A thread asleep without a time-out must come to make its first look at the count waiting,
    // and one asleep without watching the device must come to watch it for this answer.
    wakeUp = (lookingLocked() && !timedWait_) ||
             (blindSleep_ && (changed || !idleUntil_ || blindUntil_ + kEarly < *idleUntil_));
  }
  if (wakeUp) wake();
}

std::chrono::microseconds PortReader::lookPeriod() const {
  return std::max(hold_.maxWait, std::chrono::microseconds(1000));
}

bool PortReader::lookingLocked() const {
  if (vmin_ <= 1) return false;
  // Done: the answer's length and its end byte came, and all of it was handed over.
  const bool done = upToEnd_ > 0 && exchangeBytes_ >= expected_ && held_.size() == announced_;
  return !done;
}

bool PortReader::lookAtWaitingLocked(Clock::time_point now) {
  nextLook_ = now + lookPeriod();
  const Clock::time_point previous = std::exchange(lastLook_, now);
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0) waiting = -1;
  if (waiting == 0) {
    lastWaiting_ = 0;
    return true;
  }
  if (waiting > 0 && waiting != lastWaiting_) {
    lastWaiting_ = waiting;  // still arriving
    return true;
  }
  // As many as at the last look (or the count unknown): nothing more is coming now. They were
  // there by the last look, which is what the answer's time is remembered as.
  lastWaiting_ = -1;
  const bool ok = readAvailableLocked(nullptr, previous);
  lastByte_ = now - hold_.quiet;
  return ok;
}

bool PortReader::catchUpLocked(Clock::time_point now) {
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting < static_cast<int>(expected_)) return true;
  // The whole answer came while the device was not watched: it is read now, and remembered as
  // come a tenth sooner than this, so that a scale that has become quicker is caught up with
  // in a few exchanges.
  return readAvailableLocked(nullptr, sentAt_ + (now - sentAt_) * 9 / 10);
}

void PortReader::wake() {
  if (wakePipe_[1] < 0) return;
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], &byte, 1);  // full: a wake is due
}

bool PortReader::readAvailableLocked(std::size_t* got, std::optional<Clock::time_point> arrivedBy) {
  char buf[512];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      if (got) *got += static_cast<std::size_t>(n);
      const auto now = Clock::now();
      if (hold_.endByte >= 0) {
        const void* end = memrchr(buf, hold_.endByte, static_cast<std::size_t>(n));
        if (end) {
          upToEnd_ =
              exchangeBytes_ + static_cast<std::size_t>(static_cast<const char*>(end) - buf) + 1;
          endAfter_ = std::min(now, arrivedBy.value_or(now)) - sentAt_;
        }
      }
      exchangeBytes_ += static_cast<std::size_t>(n);
      if (held_.size() == announced_) firstWaiting_ = now;
      lastByte_ = now;
      const std::size_t room = kCapacity - std::min(held_.size(), kCapacity);
      const std::size_t kept = std::min(room, static_cast<std::size_t>(n));
      if (hold_.endByte >= 0 && std::memchr(buf, hold_.endByte, kept) != nullptr) endSeen_ = true;
      held_.append(buf, kept);
      if (static_cast<std::size_t>(n) < sizeof buf) return true;  // all there was
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // 0 is nothing more now: the port is set to return at once (a hang-up shows in poll's flags).
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return true;
    return false;  // the device failed (a pseudo-terminal whose far end closed: EIO)
  }
}

bool PortReader::dueLocked(Clock::time_point now) const {
  if (held_.size() == announced_) return false;
  // Far more than a frame without its end byte is babble: handed over as it comes.
  if (hold_.maxWait.count() <= 0 || endSeen_ || held_.size() - announced_ >= kLongestFrame) {
    return true;
  }
  return now - lastByte_ >= hold_.quiet || now - firstWaiting_ >= hold_.maxWait;
}

void PortReader::run() {
  constexpr int kMaxEmptyWakes = 1000;
  int emptyWakes = 0;
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
  for (;;) {
    timespec timeout{};
    const timespec* wait = nullptr;  // nothing waits to be handed over: sleep until news
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      std::optional<Clock::time_point> due;
      if (held_.size() > announced_) {
        due = std::min(lastByte_ + hold_.quiet, firstWaiting_ + hold_.maxWait);
      }
      std::optional<Clock::time_point> look;
      if (lookingLocked()) {
        look = nextLook_;
      } else if (vmin_ > 1 && idleUntil_) {
        look = idleUntil_;
      }
      if (look) due = due ? std::min(*due, *look) : *look;
      // Not watching the device while its answer cannot be complete yet, nor between an answer
      // and the next request, whose answer is expected about as late.
      const auto now = Clock::now();
      blindSleep_ = false;
      bool blind = false;
      if (vmin_ > 1 && lookingLocked() && now + kEarly < blindUntil_) {
        blind = true;
        due = due ? std::min(*due, blindUntil_) : blindUntil_;
      } else if (vmin_ > 1 && !lookingLocked() && idleUntil_ && now + kEarly < *idleUntil_) {
        blind = true;
        blindSleep_ = true;
      }
      fds[0].fd = blind ? -1 : fd_;
      timedWait_ = due.has_value();
      if (due) {
        const auto left = std::max(*due - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        wait = &timeout;
      } else if (wakePipe_[0] < 0) {
        timeout.tv_nsec = 50'000'000;  // without a wake pipe a stop is seen within 50 ms
        wait = &timeout;
      }
    }
    const int n = ::ppoll(fds, wakePipe_[0] >= 0 ? 2 : 1, wait, nullptr);
    if (n < 0 && errno != EINTR) {
      if (lost_) lost_();
      return;
    }
    if (n > 0 && (fds[1].revents & POLLIN)) {
      char drain[64];
      while (::read(wakePipe_[0], drain, sizeof drain) > 0) {
      }
    }
    bool announce = false;
    bool gone = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      const auto now = Clock::now();
      const bool blindEnded =
          n == 0 && fds[0].fd < 0 && lookingLocked() && now + kEarly >= blindUntil_;
      if (blindEnded) {
        gone = !catchUpLocked(now);
      } else if (n > 0 && fds[0].revents != 0) {
        std::size_t got = 0;
        gone = !readAvailableLocked(&got) || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        // A device that keeps saying it is readable and gives nothing would spin this loop.
        emptyWakes = got == 0 ? emptyWakes + 1 : 0;
        if (emptyWakes > kMaxEmptyWakes) gone = true;
      } else if (lookingLocked() && now + kEarly >= nextLook_) {
        gone = !lookAtWaitingLocked(now);
      } else if (idleUntil_ && now >= *idleUntil_) {
        idleUntil_.reset();  // no request followed: sleep until news
      }
      if (!gone && dueLocked(now)) {
        announced_ = held_.size();
        endSeen_ = false;
        announce = !posted_;
        posted_ = true;
        // The answer is complete. The next request follows at once, and its answer is due about
        // as long after it: this sleep, without watching the device, ends near then, so that the
        // request need not wake this thread. A short wait (a line without character times) is
        // not worth a sleep of its own.
        const auto blindSpan = blindUntil_ - sentAt_;
        if (vmin_ > 1 && !lookingLocked() && blindSpan > 2 * kEarly) idleUntil_ = now + blindSpan;
      }
    }
    if (gone) {
      if (lost_) lost_();
      return;
    }
    if (announce && ready_) ready_();
  }
}

}  // namespace trv4
