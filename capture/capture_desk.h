// Weighings: a capture takes the settled weight a scale's monitor panel shows, commits it to the
// journal under the next sequence number and only then tells anyone of it. The desk is what the
// windows, the gateway, MQTT delivery and HTTP use. Captures and listeners belong to the thread
// that runs the link; the reads (readAfter, newest, waitingForDelivery) may come from any thread
// and never wait for the journal's work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture/journal_failure.h"

namespace trv4 {

// The newest captures the desk keeps at hand for newest().
inline constexpr std::size_t kNewestKept = 1000;

// One committed capture.
struct Capture {
  uint64_t sequence = 0;    // from 1, never reused, also not after a restart
  int scale = 0;            // 0..29
  std::string text;         // the panel's text as shown, UTF-8 ("12.34 kg")
  int32_t digits = 0;       // the weight in units of its last shown digit (-1234)
  int decimals = 0;         // (2: -12.34)
  std::string unit;         // "kg" or "lb"
  bool net = false;         // net weight (the net indicator showed)
  int64_t utcMs = 0;        // when it was taken, ms since 1970, UTC
  std::string requestedBy;  // who asked: "operator", "http", "mqtt", ...
  bool delivered = false;   // the MQTT broker acknowledged it
};

// Why a capture did not come about.
enum class CaptureFailure {
  kMoving,      // the weight did not settle within the time limit
  kNoAnswer,    // the scale did not answer (its panel is blank)
  kOffRange,    // its panel shows "Off Range"
  kNotAWeight,  // its panel shows a text, not a number
  kNotPolled,   // the scale is not polled
  kJournal,     // the journal could not store it: nothing was captured
};

// "moving", "no answer", "off range", "not a weight", "not polled", "journal".
const char* captureFailureName(CaptureFailure failure);

struct CaptureRequest {
  int scale = 0;          // 0..29
  int stableAnswers = 3;  // answers in a row without the motion mark
  int timeoutMs = 5000;   // time limit
  std::string requestedBy;
};

struct CaptureOutcome {
  std::optional<Capture> capture;  // set when it was committed
  CaptureFailure failure = CaptureFailure::kMoving;
  std::string message;                           // a plain sentence for the operator or the client
  std::optional<JournalFailure> journalFailure;  // kJournal: why the journal did not store it
};

class CaptureDesk {
 public:
  virtual ~CaptureDesk() = default;

  // Starts a capture. done runs once, later (never from within this call), with the committed
  // capture or the reason it failed. A capture asked for a scale while one for it waits joins
  // that one: both get the same outcome, the first one's replies and time limit decide it.
  virtual void capture(const CaptureRequest& request,
                       std::function<void(const CaptureOutcome&)> done) = 0;

  // Any thread: committed captures with a sequence number above `sequence`, oldest first, at
  // most limit. done runs later from the calling thread's event loop, never within this call.
  virtual void readAfter(uint64_t sequence, std::size_t limit,
                         std::function<void(std::vector<Capture>)> done) const = 0;
  // Any thread, at once: the newest committed captures, newest first, at most
  // min(limit, kNewestKept).
  virtual std::vector<Capture> newest(std::size_t limit) const = 0;
  // Any thread, at once: committed captures the MQTT broker has not acknowledged yet.
  virtual std::size_t waitingForDelivery() const = 0;

  // Told of every capture once it is committed; removeListener with the id given ends it.
  virtual int addListener(std::function<void(const Capture&)> listener) = 0;
  virtual void removeListener(int id) = 0;
};

}  // namespace trv4
