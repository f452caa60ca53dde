#include "net/weight_message.h"

#include <ctime>

#include <cstdio>

#include "base/blank_trim.h"
#include "base/calendar_fields.h"
#include "base/codepage.h"
#include "net/shown_weight.h"

namespace trv4 {

namespace {

// A JSON string of UTF-8 text: quotes, backslashes and control characters escaped.
std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + '"';
}

const char* flag(bool b) {
  return b ? "true" : "false";
}

}  // namespace

std::string isoTime(int64_t ms) {
  const time_t seconds = static_cast<time_t>(ms / 1000);
  const std::tm utc = utcFields(seconds);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms % 1000));
  return buf;
}

ShownFacts shownFacts(const PanelView& view, int unitFlag) {
  ShownFacts f;
  f.weight = readShownWeight(view.text);
  f.unit = f.weight ? f.weight->unit : (unitFlag != 0 ? "lb" : "kg");
  f.text = codePageToUtf8(trimBlanks(view.text, " "));
  f.net = view.netVisible;
  f.motion = view.motionVisible && view.motionText == "M";
  f.centreOfZero = view.motionVisible && view.motionText == "o";
  f.offRange = showsOffRange(view.text);
  return f;
}

std::string weightMessage(char address, const PanelView& view, int unitFlag, int64_t shownAtMs) {
  const ShownFacts f = shownFacts(view, unitFlag);
  std::string json = "{\"address\":" + jsonString(std::string(1, address));
  json += ",\"text\":" + jsonString(f.text);
  json += ",\"weight\":" + (f.weight ? decimalText(*f.weight) : std::string("null"));
  json += ",\"unit\":\"" + f.unit + '"';
  json += std::string(",\"net\":") + flag(f.net);
  json += std::string(",\"motion\":") + flag(f.motion);
  json += std::string(",\"offRange\":") + flag(f.offRange);
  json += ",\"time\":\"" + isoTime(shownAtMs) + "\"}";
  return json;
}

}  // namespace trv4
