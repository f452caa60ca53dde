// Reads a serial device on a thread of its own and hands what arrives to the UI thread in bursts.
// At 9600 baud every character would be a wake-up of its own, of this thread and of the UI
// thread's event loop. Instead:
// - the UI thread is woken once a burst: when the frame's end byte arrives, when the line has
//   gone quiet, or when the oldest byte held has waited as long as the owner allows;
// - this thread is woken once a reply where the reply's length is known: the owner sets the
//   terminal's VMIN to the length the same request was answered with last time (sent() tells
//   it), so that the kernel reports the device readable only when that many bytes are there.
//   Shorter answers are found by looking at the count waiting every maxWait.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace trv4 {

class PortReader {
 public:
  // How long received bytes may be held before they are handed over. maxWait 0 hands every
  // read over at once; endByte -1 is none.
  struct Hold {
    std::chrono::microseconds maxWait{0};
    std::chrono::microseconds quiet{0};
    int endByte = -1;
    std::chrono::microseconds charTime{1000};  // one character's time on the line
  };

  // fd: a non-blocking descriptor that stays open until the reader is destroyed. ready runs on
  // the reader's thread when bytes are to be handed over, then not again until acknowledge();
  // lost runs on it once when the device hung up or failed, and the reader stops reading.
  PortReader(int fd, std::function<void()> ready, std::function<void()> lost);
  ~PortReader();
  PortReader(const PortReader&) = delete;
  PortReader& operator=(const PortReader&) = delete;

  void setHold(const Hold& hold);
  // The owner has taken the news of ready(): the next burst may be announced.
  void acknowledge();
  // Every byte held, and whatever the device has at this moment, in order.
  std::string take();
  std::size_t held() const;

  // A request is about to be written: what answered the same request last time up to its last
  // end byte is expected again. Returns that count (0: unknown, or no hold), which the owner
  // may set as the terminal's VMIN before writing.
  std::size_t expectAnswerTo(const std::string& request);
  // The VMIN the terminal reads with now (1 or less: the kernel reports every byte). Called
  // after every expectAnswerTo().
  void setMinimum(std::size_t vmin);

  // What is kept of bytes nobody takes, like a hardware receive buffer: more is dropped.
  static constexpr std::size_t kCapacity = 4096;
  // More bytes than any frame has, held without an end byte, are handed over at once.
  static constexpr std::size_t kLongestFrame = 256;
  // Requests whose answer's length is remembered; more start the memory afresh.
  static constexpr std::size_t kRemembered = 64;

 private:
  using Clock = std::chrono::steady_clock;
  // A look or a watch due this soon is begun now rather than after one more sleep.
  static constexpr std::chrono::milliseconds kEarly{1};

  void run();
  // Reads what the device has into held_, adding the count read to *got; false when the device
  // failed. arrivedBy: the bytes were there by then (read late).
  bool readAvailableLocked(std::size_t* got = nullptr,
                           std::optional<Clock::time_point> arrivedBy = std::nullopt);
  // True when the bytes not yet announced are due to be handed over at `now`.
  bool dueLocked(Clock::time_point now) const;
  // While bytes may wait in the kernel below VMIN, their count is looked at now and then.
  bool lookingLocked() const;
  std::chrono::microseconds lookPeriod() const;
  // Bytes wait and their count is as at the last look: the line is quiet, they are read.
  bool lookAtWaitingLocked(Clock::time_point now);
  // The device was not watched until now: an answer already complete is read.
  bool catchUpLocked(Clock::time_point now);
  void wake();

  const int fd_;
  int wakePipe_[2] = {-1, -1};
  std::function<void()> ready_;
  std::function<void()> lost_;

  mutable std::mutex mutex_;
  std::string held_;
  std::size_t announced_ = 0;  // held_'s first bytes that ready() has told of
  bool endSeen_ = false;       // an end byte among the bytes not yet announced
  bool posted_ = false;        // ready() ran and was not acknowledged yet
  bool stop_ = false;
  Hold hold_;
  Clock::time_point firstWaiting_;
  Clock::time_point lastByte_;

  // The exchange since the last request: bytes read, and up to its last end byte and when.
  struct Answer {
    std::size_t length;
    Clock::duration after;
  };
  std::string request_;
  Clock::time_point sentAt_;
  std::size_t exchangeBytes_ = 0;
  std::size_t upToEnd_ = 0;
  Clock::duration endAfter_{};
  std::size_t expected_ = 0;
  std::size_t vmin_ = 1;
  int lastWaiting_ = -1;
  Clock::duration firstLook_{};
  Clock::time_point nextLook_;
  Clock::time_point lastLook_;
  Clock::time_point blindUntil_;  // the device is not watched before then
  bool blindSleep_ = false;       // the thread sleeps unwatching until idleUntil_
  std::optional<Clock::time_point> idleUntil_;
  bool timedWait_ = false;  // the thread sleeps with a time-out
  std::unordered_map<std::string, Answer> answers_;

  std::thread thread_;
};

}  // namespace trv4
