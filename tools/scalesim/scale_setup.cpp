#include "tools/scalesim/scale_setup.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>

#include "base/codepage.h"
#include "tools/scalesim/data_fields.h"

namespace trv4::scalesim {

bool parseScaleSetup(std::string_view option, std::string_view value, NetworkOptions* options,
                     std::string* error) {
  static const std::map<std::string_view, std::string_view> kForms = {
      {"--text", "ADDR=TEXT, e.g. E=ΖΥΓΟΣ"},
      {"--load", "ADDR=KG, e.g. D=180 or H=-1.5"},
      {"--tare", "ADDR=KG, e.g. C=2.5"},
      {"--swing", "one scale address, e.g. B"},
      {"--pin", "ADDR=PIN, PIN six digits, e.g. H=123456"},
      {"--cal-lock", "one scale address, e.g. G"},
      {"--reply", "ADDR:REQUEST=KIND, e.g. B:p1=short (KIND none, short, wrong or nak)"},
      {"--corners", "ADDR=N, N one digit 1 to 9, e.g. B=3"},
      {"--skip-corner", "ADDR=N, N one digit 1 to 9, e.g. B=2"},
      {"--cal-error", "ADDR=90 or ADDR=91, e.g. B=90"},
      {"--rate", "ADDR=BAUD or ADDR=BAUD/FORMAT, e.g. K=19200 or K=19200/8N1"},
      {"--reply-delay", "ADDR=MS, MS from 0 to 60000, e.g. C=80"},
  };
  std::string name(option);
  auto form = kForms.find(option);
  if (form == kForms.end()) {
    *error = "unknown scale option " + name;
    return false;
  }
  // --cal-lock and --swing take the address alone, --reply the address and ":", the others the
  // address and "=".
  const bool alone = option == "--cal-lock" || option == "--swing";
  const bool shaped = alone
                          ? value.size() == 1
                          : value.size() >= 2 && value[1] == (option == "--reply" ? ':' : '=');
  if (!shaped) {
    *error = name + " takes " + std::string(form->second);
    return false;
  }
  char address = value[0];
  if (address < 'A' || address > '^') {
    *error = name + ": \"" + std::string(1, address) + "\" is not a scale address (A to ^)";
    return false;
  }
  const std::string scale(1, address);
  if (alone) {
    (option == "--cal-lock" ? options->setups[address].calLock : options->setups[address].swing) =
        true;
    return true;
  }
  std::string rest(value.substr(2));
  if (option == "--pin") {
    if (rest.size() != 6 || !allDigits(rest)) {
      *error =
          "--pin: the PIN of scale " + scale + " must be exactly six digits, not \"" + rest + "\"";
      return false;
    }
    options->setups[address].pin = rest;
    return true;
  }
  if (option == "--reply") {
    static const std::map<std::string_view, ReplyFault> kKinds = {
        {"none", ReplyFault::kNoAnswer},
        {"short", ReplyFault::kShort},
        {"wrong", ReplyFault::kWrong},
        {"nak", ReplyFault::kNak},
    };
    size_t equals = rest.find('=');
    if (equals == std::string::npos) {
      *error = name + " takes " + std::string(form->second);
      return false;
    }
    std::string request = rest.substr(0, equals);
    std::string kind = rest.substr(equals + 1);
    if (!shortAnswerLength(request)) {
      *error = "--reply: \"" + request +
               "\" is not a parameter request (d, s1, p1-p3, q1, q2, f1-f4, i0-i4, S1, S2, "
               "P1-P3, Q1, Q2, W, J0, J1)";
      return false;
    }
    auto k = kKinds.find(kind);
    if (k == kKinds.end()) {
      *error = "--reply: unknown answer \"" + kind + "\" (none, short, wrong, nak)";
      return false;
    }
    options->setups[address].replies[request] = k->second;
    return true;
  }
  if (option == "--corners" || option == "--skip-corner") {
    if (rest.size() != 1 || rest[0] < '1' || rest[0] > '9') {
      *error = name + ": \"" + rest + "\" is not a corner from 1 to 9 (" +
               std::string(form->second) + ")";
      return false;
    }
    ScaleSetup& setup = options->setups[address];
    (option == "--corners" ? setup.corners : setup.skipCorner) = rest[0] - '0';
    return true;
  }
  if (option == "--cal-error") {
    if (rest != "90" && rest != "91") {
      *error =
          "--cal-error: the error of scale " + scale + " must be 90 or 91, not \"" + rest + "\"";
      return false;
    }
    options->setups[address].calError = rest == "90" ? 90 : 91;
    return true;
  }
  if (option == "--rate") {
    const std::size_t slash = rest.find('/');
    const std::string baud = rest.substr(0, slash);
    const std::string format = slash == std::string::npos ? "" : rest.substr(slash + 1);
    const long rate =
        allDigits(baud) && !baud.empty() && baud.size() <= 7 ? std::atol(baud.c_str()) : 0;
    if (rate < 50 || rate > 4'000'000 ||
        (slash != std::string::npos && bitsPerCharacter(format) == 0)) {
      *error = "--rate takes " + std::string(form->second);
      return false;
    }
    options->setups[address].baud = static_cast<int>(rate);
    options->setups[address].format = format;
    return true;
  }
  if (option == "--reply-delay") {
    char* end = nullptr;
    const double ms = std::strtod(rest.c_str(), &end);
    if (rest.empty() || *end != '\0' || !(ms >= 0 && ms <= 60000)) {
      *error = "--reply-delay: the delay of scale " + scale +
               " must be milliseconds from 0 to 60000, not \"" + rest + "\"";
      return false;
    }
    options->setups[address].replyDelayUs = static_cast<int64_t>(ms * 1000);
    return true;
  }
  if (option == "--text") {
    if (rest.empty()) {
      *error = "--text: the text for scale " + scale + " is empty";
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
    *error = name + ": \"" + rest + "\" is not a number of kilograms (" +
             std::string(form->second) + ")";
    return false;
  }
  ScaleSetup& setup = options->setups[address];
  (option == "--load" ? setup.load : setup.tare) = kg;
  return true;
}

}  // namespace trv4::scalesim
