// A scale's parameters as the parameter window reads and writes them: the reads, the checked
// writes, store and reset, the PIN lock and the lock flags with the audit trail counter, and the
// stand-in answers of the --reply faults.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tools/scalesim/random.h"
#include "tools/scalesim/scale_model.h"

namespace trv4::scalesim {

// STX, address, block check and ETX: what a frame adds to its body.
inline constexpr size_t kFrameOverhead = 5;

// Every parameter at its default, stored; the internal resolution drawn, the address its own.
void startParameters(ScaleState& s, Random& random);

// The answer to a read ("p1": "p1204022"), nullopt when body is no read.
std::optional<std::string> readParameter(const ScaleState& s, const std::string& body);
// The answer to a write ("P1204022": ACK, or NAK for a value the scale cannot take or while it
// is PIN-locked), nullopt when body is no write.
std::optional<std::string> writeParameter(ScaleState& s, const std::string& body);
// The answer to "J0" + PIN (unlock) and "J1" + PIN (lock with it), nullopt when body is neither.
std::optional<std::string> pinCommand(ScaleState& s, const std::string& body);
// "W": the parameters become the stored ones, unless PIN-locked.
std::string storeParameters(ScaleState& s);
// Reset: what was not stored is lost.
void restoreParameters(ScaleState& s);
// The answer to "d": lock flags ('0' + 1 calibration lock + 2 PIN lock), audit trail counter.
std::string lockAnswer(const ScaleState& s);
// A well-formed answer to another request than `request` (--reply wrong): a read gets the next
// read's answer, a write the read-back of its parameter; store and the PIN commands get the lock
// flags.
std::string standInAnswer(const ScaleState& s, const std::string& request);

// Decimals the display shows, from "p3".
int displayDecimals(const ScaleState& s);
// Load cells under the platform, from "p1".
int loadCells(const ScaleState& s);

}  // namespace trv4::scalesim
