#include "tools/scalesim/scale_setup.h"

#include <iconv.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace trv4::scalesim {

namespace {

// Length of the well-formed UTF-8 character at s, 0 when the bytes there are not UTF-8.
size_t utf8Length(const char* s, size_t left) {
  auto lead = static_cast<unsigned char>(s[0]);
  size_t n = lead >= 0xC2 && lead <= 0xDF   ? 2
             : lead >= 0xE0 && lead <= 0xEF ? 3
             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                            : 0;
  if (n > left) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
  return n;
}

// UTF-8 to Windows-1253; a character the code page cannot hold becomes "?". nullopt with *error
// set when there is no converter or the text is not UTF-8.
std::optional<std::string> toCodePage(std::string_view utf8, std::string* error) {
  iconv_t cd = iconv_open("WINDOWS-1253", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *error = "no converter from UTF-8 to WINDOWS-1253 on this system";
    return std::nullopt;
  }
  std::string out;
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  bool ok = true;
  while (ok && inLeft > 0) {
    char buffer[64];
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // EILSEQ on a whole character the code page lacks; anything else is not UTF-8.
    size_t n = errno == EILSEQ ? utf8Length(in, inLeft) : 0;
    ok = n > 0;
    out += '?';
    in += n;
    inLeft -= n;
  }
  iconv_close(cd);
  if (ok) return out;
  *error = "not UTF-8";
  return std::nullopt;
}

}  // namespace

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
    std::optional<std::string> text = toCodePage(rest, error);
    if (!text) {
      *error = "--text: the text for scale " + std::string(1, address) + ": " + *error;
      return false;
    }
    // Control characters (STX, ETX among them) would break the reply frame.
    for (unsigned char c : *text) {
      if (c < 0x20 || c == 0x7F) {
        *error = "--text: the text may not hold control characters";
        return false;
      }
    }
    options->setups[address].text = *text;
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
