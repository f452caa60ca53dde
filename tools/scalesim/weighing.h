// A scale's weighing: the load on its platform as it moves and settles, zero, tare and gross, the
// texts its display shows over the weight, and the status it reports. Kilograms throughout.
#pragma once

#include <cstdint>
#include <string>

#include "tools/scalesim/random.h"
#include "tools/scalesim/scale_model.h"

namespace trv4::scalesim {

// The load a scale starts with (with moving weights a random one) and when it first changes.
void startLoad(ScaleState& s, bool moving, Random& random);
// With moving weights, the load changes every few seconds up to nowUs; a load set by option
// stays.
void advanceLoad(ScaleState& s, int64_t nowUs, int64_t settleUs, Random& random);
// Puts a load on the platform at nowUs: the weight moves from what it showed and settles.
void putLoad(ScaleState& s, double kg, int64_t nowUs, int64_t settleUs);
// What lies on the platform as the scale sees it at nowUs, the motion's wobble included.
double displayedGross(const ScaleState& s, int64_t nowUs);
// The gross weight the scale reports: the load after its zero, through its span.
double reportedGross(const ScaleState& s, int64_t nowUs);

// Drops the display steps that have run out by nowUs.
void updateText(ScaleState& s, int64_t nowUs);
// Shows a text from nowUs for durationUs (-1: until acknowledged or reset).
void showText(ScaleState& s, const std::string& text, int64_t nowUs, int64_t durationUs);

// The status payload (flags character + weight field) at nowUs, for a load already brought up
// to that time.
std::string statusPayload(ScaleState& s, int64_t nowUs);
// "Z", "T" and "G": zero, tare and gross; the answer.
std::string weighingCommand(ScaleState& s, char command, int64_t atUs);

}  // namespace trv4::scalesim
