// A network of simulated scales on one serial line. Plain C++: no I/O, no clock of its own; the
// caller says when bytes arrive and asks which bytes go out by a given time. Times are in
// microseconds on the caller's clock.
//
// The scales answer the frames the TRV-4 program sends: status requests with a flags character
// and a six-character weight field, zero/gross/tare and the one-shot commands, parameter reads and
// writes with ACK/NAK, store, PIN lock, and the calibration sequences with their display texts.
// Everything random (weights, injected faults, reply jitter) comes from one seed, so runs repeat.
//
// ScaleNetwork hands each request to the scale it names; the jobs live in files of their own:
// line_timing (the line in time), line_faults (--fault), weighing, parameter_store and
// calibration.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/scalesim/line_faults.h"
#include "tools/scalesim/line_timing.h"
#include "tools/scalesim/random.h"

namespace trv4::scalesim {

inline constexpr char kStx = '\x02';
inline constexpr char kEtx = '\x03';
inline constexpr char kAck = '\x06';
inline constexpr char kNak = '\x15';
inline constexpr char kSync = '\x10';
inline constexpr char kBroadcast = '@';

// Bits of the status flags character. The character sent is 0x40 | bits, so it is always
// printable and never an STX or ETX.
enum StatusBit : int {
  kTextBit = 1,
  kNetBit = 2,
  kMarkBit = 4,
  kOffRangeBit = 8,
  kStableBit = 16,
  kNegativeBit = 32,
};

// The two block-check characters of text running from STX to the end of the body: x = XOR of all
// bytes, then 48 + x / 16 and 48 + x % 16.
std::string blockCheck(std::string_view stxToBody);
// STX, address, body, block check, ETX.
std::string makeFrame(char address, std::string_view body);

// Parses an address list "A-H", "A,C,E", "A-C,K", "^". Empty set with *error set when malformed.
std::set<char> parseAddresses(std::string_view text, std::string* error);

// How a scale spoils its answer to one request (option --reply).
enum class ReplyFault {
  kNoAnswer,  // "none": no answer at all
  kShort,     // "short": data cut until the program must refuse the frame as too short
  kWrong,     // "wrong": a well-formed answer carrying another request's letters
  kNak,       // "nak": NAK; the scale refuses the request and does not act on it
};

// The requests of the parameter window whose answers --reply can spoil: the reads "d", "s1",
// "p1".."p3", "q1", "q2", "f1".."f4", "i0".."i4", the writes "S1", "S2", "P1".."P3", "Q1", "Q2",
// store "W" and the PIN commands "J0", "J1". For these, the length of the whole frame a "short"
// answer makes: for a read the longest answer the program still refuses (11 for "d", 12 for
// "p1"), for the others 5 (STX, address, block check, ETX: the ACK or NAK left out). nullopt for
// any other request.
std::optional<size_t> shortAnswerLength(std::string_view request);

// How one scale starts the run (options --load, --tare, --swing, --text, --pin, --cal-lock,
// --reply, --corners, --skip-corner, --cal-error, --rate, --reply-delay).
struct ScaleSetup {
  std::optional<double> load;      // kg on the platform, kept for the whole run
  std::optional<double> tare;      // kg: the scale starts net
  bool swing = false;              // the load never comes to rest: the weight is never stable
  std::string text;                // Windows-1253 bytes the display shows for the whole run, or ""
  std::optional<std::string> pin;  // six digits: the scale starts PIN-locked with it
  bool calLock = false;            // the scale starts with its calibration lock set
  std::map<std::string, ReplyFault> replies;  // spoilt answers, by request name
  int corners = 0;     // corners a corner calibration asks for, 1..9; 0: the load-cell count
  int skipCorner = 0;  // this corner is never asked for (the one after it is); 0: none
  int calError = 0;    // 90 or 91: the first calibration command ends in "ERR 90"/"ERR 91"
  int baud = 0;        // the scale listens at this bit rate only (--rate); 0: the network's
  std::string format;  // and in this frame format, e.g. "8N1"; "": the network's
  // From a request's last byte to the reply's first, instead of the network's replyDelayUs
  // (jitter is still added): a scale that answers after the program has given up on it.
  std::optional<int64_t> replyDelayUs;
};

struct NetworkOptions {
  std::set<char> addresses{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
  bool echo = false;            // the line returns every byte the PC sends, first
  int64_t replyDelayUs = 2000;  // from the request's last byte to the reply's first byte
  int64_t replyJitterUs = 0;    // each reply's delay drawn from replyDelayUs .. + this; 0: none
  int baud = 0;                 // 0: bytes take no time on the line
  int bitsPerChar = 10;         // 7E1 and 8N1 both take 10 bits
  uint64_t seed = 1;
  bool movingWeights = true;  // loads change now and then; false: a load stays until set
  std::vector<Fault> faults;
  std::map<char, ScaleSetup> setups;  // by address
  // The frame format the scales listen in when a bit rate is set ("7E1"); "": any.
  std::string format = {};
  // With a bit rate, the line's characters are handed over in groups of up to this many, as a
  // receive FIFO or a USB adapter does: a group when it is full or its output ends, at the time
  // its last character is complete. 0 or 1: character by character. No effect without a rate.
  int burst = 0;
};

// Everything one scale keeps: its load and display state, its parameters and its locks.
struct ScaleState {
  char address = 'A';
  // Load and weighing (kilograms).
  double load = 0;            // what lies on the platform
  double zeroOffset = 0;      // load that reads as zero: set by "Z" and the zero calibrations
  double span = 1;            // reported kilograms per kilogram on the platform (calibrations)
  double tare = 0;            // set by "T", in reported kilograms
  bool net = false;           // after "T", until "G"
  double capacity = 150;      // above this (gross) the scale reports off range
  int64_t motionUntilUs = 0;  // the weight moves until then
  double motionFrom = 0;      // load the motion started from
  int64_t motionStartUs = 0;
  int64_t nextLoadChangeUs = 0;
  bool keepLoad = false;  // the load stays even with moving weights (a load set by option)
  bool swing = false;     // the load swings for the whole run: the weight never settles
  // The display: a text (TextBit) per step, each shown for its duration (-1: until acknowledged
  // or replaced); the weight shows when no step is left.
  struct DisplayStep {
    std::string text;
    int64_t durationUs = -1;
  };
  std::deque<DisplayStep> display;
  int64_t displayStartUs = 0;  // when the front step began
  // Shown instead of the weight whenever `display` is empty, for the whole run: ACK, reset and
  // calibration do not remove it (their texts show over it while they last).
  std::string standingText;
  // Parameters by their read name ("s1", "p1", "p2", "p3", "q1", "q2", "s2", "f1".."f4",
  // "i0".."i4"): the data characters a read reports after the two request letters. Writes change
  // `params`; "W" copies them to `stored`, which a reset brings back.
  std::map<std::string, std::string> params;
  std::map<std::string, std::string> stored;
  bool calLock = false;
  bool pinLock = false;
  std::string pin = "000000";
  int auditCounter = 0;
  std::map<std::string, ReplyFault> replies;  // requests answered wrongly on purpose (--reply)
  // The load cells as the electronic calibrations see them: each is rated cellCapacityKg and
  // gives kRatedSignal mV/V at that load; the empty platform gives emptySignal mV/V.
  double cellCapacityKg = 50;
  double emptySignal = 0.2712;
  // Calibration in progress: 0 none, 'c' weight corner, 'C' electronic corner.
  char cornerMode = 0;
  int nextCorner = 0;  // the corner the scale asks for
  int corners = 0;     // corners per corner calibration; 0: the load cells in "p1"
  int skipCorner = 0;  // corner never asked for (--skip-corner), 0: none
  int calError = 0;    // 90 or 91: the next calibration command fails so (--cal-error), 0: none
  int baud = 0;        // listens only at this bit rate; 0: at any
  std::string format;  // and only in this frame format; "": in any
  std::optional<int64_t> replyDelayUs;  // its own reply delay (--reply-delay); none: the network's
};

// Load-cell output at rated load, in mV/V.
inline constexpr double kRatedSignal = 2.0;

class ScaleNetwork {
 public:
  explicit ScaleNetwork(NetworkOptions options);

  // Bytes from the PC; the first is being received at nowUs (never earlier than a time given
  // before). With a bit rate each byte completes
  // one character time after the previous one (or after nowUs).
  void receive(std::string_view bytes, int64_t nowUs);
  // When the next output byte is complete on the line, if any is scheduled.
  std::optional<int64_t> nextOutputTime() const;
  // All output complete by nowUs, in order, removed from the schedule. With a bit rate every
  // byte is its own entry at the time it is complete, or with a burst size a group of them at
  // the time its last one is.
  std::vector<LineOutput> takeOutput(int64_t nowUs);

  // Time one character takes on the line (0 without a bit rate).
  int64_t characterTimeUs() const { return line_.characterTimeUs(); }

  // The scale at an address, nullptr when it is not on the network.
  ScaleState* scale(char address);
  // Puts a load on a scale at time nowUs: the weight moves there and settles.
  void setLoad(char address, double kg, int64_t nowUs);
  // Shows a text on a scale's display from nowUs for durationUs (-1: until acknowledged or reset).
  void showText(char address, const std::string& text, int64_t nowUs, int64_t durationUs);
  // The status payload (flags character + weight field) the scale would report at nowUs.
  std::string statusPayload(char address, int64_t nowUs);

  const NetworkOptions& options() const { return options_; }
  // The bit rate and frame format ("7E1") the PC's port is set to; 0 while unknown. A scale set
  // to another rate or format hears only garbage and answers nothing; while the port's rate is
  // unknown every scale hears.
  void setLineSettings(int baud, std::string format);
  // Every request frame seen, with its time (the last 10000 are kept).
  const std::deque<ReceivedFrame>& received() const { return received_; }
  // Runs for every frame received (after it is recorded).
  std::function<void(const ReceivedFrame&)> onFrame;

  // How long the scale shows its working texts (calibration in progress).
  int64_t workingTextUs = 800'000;
  // How long a load change takes to settle.
  int64_t settleUs = 700'000;

 private:
  void handleFrame(const std::string& frame, int64_t atUs);
  // The body of the scale's answer to a request, nullopt for none (a --reply fault may change
  // or drop the answer).
  std::optional<std::string> reply(ScaleState& s, const std::string& body, int64_t atUs);
  std::string answer(ScaleState& s, const std::string& body, int64_t atUs);
  // The scale's load brought up to nowUs.
  void advance(ScaleState& s, int64_t nowUs);
  bool hears(const ScaleState& s) const;

  NetworkOptions options_;
  Random random_;
  LineTiming line_;
  LineFaults faults_;
  std::map<char, ScaleState> scales_;
  std::deque<ReceivedFrame> received_;
};

}  // namespace trv4::scalesim
