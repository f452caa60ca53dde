// The command-line options that set up single scales for the run: --load, --tare, --text, --pin,
// --cal-lock, --reply, --corners, --skip-corner, --cal-error, --rate and --reply-delay.
#pragma once

#include <string>
#include <string_view>

#include "tools/scalesim/scale_model.h"

namespace trv4::scalesim {

// Reads the value of one option into options->setups:
//   --load "D=180", "H=-1.5"      --tare "C=2.5"      --text "E=ΖΥΓΟΣ" (UTF-8)
//   --pin "H=123456" (exactly six digits)             --cal-lock "G"
//   --reply "B:p1=short" (ADDR:REQUEST=KIND, KIND none, short, wrong or nak; REQUEST one that
//           shortAnswerLength knows)
//   --corners "B=3", --skip-corner "B=2" (one digit 1 to 9)   --cal-error "B=90" (90 or 91)
//   --rate "K=19200", "K=19200/8N1"     --reply-delay "C=80" (milliseconds, 0 to 60000)
// A text is stored in Windows-1253, characters the code page cannot hold as "?". False with
// *error set, and options unchanged, when the option is unknown or its value malformed.
bool parseScaleSetup(std::string_view option, std::string_view value, NetworkOptions* options,
                     std::string* error);

}  // namespace trv4::scalesim
