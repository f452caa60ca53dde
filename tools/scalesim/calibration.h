// A scale's calibration: weight and electronic zero and span, the corner sequences with the
// corner each step asks for, the working text each step shows, the calibration lock and the
// errors a scale ends a step in.
#pragma once

#include <cstdint>
#include <string>

#include "tools/scalesim/random.h"
#include "tools/scalesim/scale_model.h"

namespace trv4::scalesim {

// Whether body is a calibration command: "a", "b", "c", "A", "B" or "C" with its data.
bool isCalibration(const std::string& body);
// Carries out a calibration command received at atUs; the answer (ACK, or NAK for a malformed
// command or a corner out of turn). Each step shows workingTextUs of its working text first.
std::string calibrate(ScaleState& s, const std::string& body, int64_t atUs, int64_t workingTextUs,
                      Random& random);

}  // namespace trv4::scalesim
