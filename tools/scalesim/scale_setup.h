// The command-line options that set up single scales for the run: --load, --tare and --text.
#pragma once

#include <string>
#include <string_view>

#include "tools/scalesim/scale_model.h"

namespace trv4::scalesim {

// Reads the value of --load ("D=180", "H=-1.5"), --tare ("C=2.5") or --text ("E=ΖΥΓΟΣ", UTF-8)
// into options->setups. A text is stored in Windows-1253, characters the code page cannot hold
// as "?". False with *error set when the option is unknown or its value malformed.
bool parseScaleSetup(std::string_view option, std::string_view value, NetworkOptions* options,
                     std::string* error);

}  // namespace trv4::scalesim
