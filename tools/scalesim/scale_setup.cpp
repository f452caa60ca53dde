#include "tools/scalesim/scale_setup.h"

#include <cmath>
#include <cstdlib>
#include <optional>

#include "base/codepage.h"

namespace trv4::scalesim {

bool parseScaleSetup(std::string_view option, std::string_view value, NetworkOptions* options,
                     std::string* error) {
  std::string example = option == "--text"   ? "ADDR=TEXT, e.g. E=ΖΥΓΟΣ"
                        : option == "--load" ? "ADDR=KG, e.g. D=180 or H=-1.5"
                        : option == "--tare" ? "ADDR=KG, e.g. C=2.5"
                                             : "";
  std::string name(option);
  if (example.empty()) {
    *error = "unknown scale option " + name;
    return false;
  }
  if (value.size() < 2 || value[1] != '=') {
    *error = name + " takes " + example;
    return false;
  }
  char address = value[0];
  if (address < 'A' || address > '^') {
    *error = name + ": \"" + std::string(1, address) + "\" is not a scale address (A to ^)";
    return false;
  }
  std::string rest(value.substr(2));
  if (option == "--text") {
    if (rest.empty()) {
      *error = "--text: the text for scale " + std::string(1, address) + " is empty";
      return false;
    }
    // Characters the code page cannot hold become "?".
    const std::string text = utf8ToCodePage(rest);
    // Control characters (STX, ETX among them) would break the reply frame.
    for (unsigned char c : text) {
      if (c < 0x20 || c == 0x7F) {
        *error = "--text: the text may not hold control characters";
        return false;
      }
    }
    options->setups[address].text = text;
    return true;
  }
  char* end = nullptr;
  double kg = std::strtod(rest.c_str(), &end);
  if (rest.empty() || *end != '\0' || !std::isfinite(kg)) {
    *error = name + ": \"" + rest + "\" is not a number of kilograms (" + example + ")";
    return false;
  }
  ScaleSetup& setup = options->setups[address];
  (option == "--load" ? setup.load : setup.tare) = kg;
  return true;
}

}  // namespace trv4::scalesim
