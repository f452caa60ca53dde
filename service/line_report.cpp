#include "service/line_report.h"

#include <cstdio>
#include <ctime>

#include "base/calendar_fields.h"
#include "base/codepage.h"
#include "service/csv_line.h"

namespace trv4 {

namespace {

constexpr const char* kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

std::string count(uint32_t n) {
  return std::to_string(n);
}

std::string ms(int64_t v) {
  return v < 0 ? std::string() : std::to_string(v);
}

std::string fixed(double v, const char* format) {
  if (v < 0) return {};
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// " … (123 more bytes)" after what an entry kept of a long run of noise.
std::string omittedText(const TrafficEntry& e) {
  return e.omitted ? " \xE2\x80\xA6 (" + std::to_string(e.omitted) + " more bytes)" : "";
}

bool isFrameKind(TrafficKind k) {
  return k != TrafficKind::Noise && k != TrafficKind::TimeOut;
}

}  // namespace

const std::vector<std::string>& statsColumns() {
  static const std::vector<std::string> columns = {
      "Scale",         "Requests",      "Commands",      "Replies",        "Time-outs",
      "Bad check",     "Cut",           "Wrong address", "Noise",          "NAK",
      "Last reply ms", "Mean reply ms", "Max reply ms",  "Since reply ms", "Answered %"};
  return columns;
}

std::vector<std::string> statsRow(const std::string& name, const ScaleCounters& c, int64_t nowMs) {
  return {name,
          count(c.requests),
          count(c.commands + c.broadcasts),
          count(c.replies),
          count(c.timeouts),
          count(c.badCheck),
          count(c.cut),
          count(c.wrongAddress),
          count(c.noise),
          count(c.naks),
          ms(c.lastReplyMs),
          fixed(c.meanReplyMs(), "%.1f"),
          c.replies ? ms(c.maxReplyMs) : std::string(),
          c.lastReplyAt < 0 ? std::string() : ms(nowMs - c.lastReplyAt),
          fixed(c.answeredShare() < 0 ? -1 : c.answeredShare() * 100, "%.1f")};
}

std::string statsCsv(const LinkStats& stats, int64_t nowMs) {
  std::string out = csvLine(statsColumns()) + "\r\n";
  for (int i = 0; i < kMaxScales; ++i) {
    const ScaleCounters& c = stats.scale(i);
    if (c.sentCount() == 0 && c.badFrames() == 0 && c.replies == 0) continue;
    out += csvLine(statsRow(scaleName(i), c, nowMs)) + "\r\n";
  }
  out += csvLine(statsRow("Line", stats.totals(), nowMs)) + "\r\n";
  return out;
}

std::string namedText(std::string_view bytes) {
  std::string out;
  std::string printable;
  auto flush = [&] {
    out += codePageToUtf8(printable);
    printable.clear();
  };
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 32 || c == 127) {
      flush();
      out += '<';
      out += c == 127 ? "DEL" : kControlNames[c];
      out += '>';
    } else {
      printable += ch;
    }
  }
  flush();
  return out;
}

std::string hexText(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

const char* trafficKindName(TrafficKind kind) {
  switch (kind) {
    case TrafficKind::StatusRequest:
      return "status request";
    case TrafficKind::Command:
      return "command";
    case TrafficKind::StatusReply:
      return "status reply";
    case TrafficKind::Reply:
      return "reply";
    case TrafficKind::Echo:
      return "echo";
    case TrafficKind::Acknowledge:
      return "acknowledge";
    case TrafficKind::TimeOut:
      return "time-out";
    case TrafficKind::Fragment:
      return "fragment";
    case TrafficKind::WrongAddress:
      return "wrong address";
    case TrafficKind::Noise:
      return "noise";
  }
  return "";
}

std::string scaleName(int scale) {
  return scale >= 0 && scale < kMaxScales ? std::string(1, scaleAddress(scale)) : "@";
}

std::string timeOfDayMs(int64_t wallMs) {
  const std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
  const std::tm local = localFields(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(wallMs % 1000));
  return text;
}

std::string checkText(const TrafficEntry& e) {
  if (!isFrameKind(e.kind)) return {};
  return blockCheckHolds(e.bytes) ? "yes" : "no";
}

const std::vector<std::string>& trafficColumns() {
  static const std::vector<std::string> columns = {"Time", "Direction", "Scale", "Kind",
                                                   "Text", "Hex",       "Check"};
  return columns;
}

std::string trafficField(const TrafficEntry& e, int column) {
  switch (column) {
    case 0:
      return timeOfDayMs(e.wallMs);
    case 1:
      return e.outgoing ? "sent" : "received";
    case 2:
      return scaleName(e.scale);
    case 3:
      return trafficKindName(e.kind);
    case 4:
      return namedText(e.bytes) + omittedText(e);
    case 5:
      return hexText(e.bytes) + omittedText(e);
    case 6:
      return checkText(e);
  }
  return {};
}

std::vector<std::string> trafficRow(const TrafficEntry& e) {
  std::vector<std::string> row;
  for (int c = 0; c < static_cast<int>(trafficColumns().size()); ++c)
    row.push_back(trafficField(e, c));
  return row;
}

std::string trafficLine(const TrafficEntry& e) {
  std::string line;
  for (const std::string& field : trafficRow(e)) {
    if (!line.empty()) line += '\t';
    line += field;
  }
  return line;
}

}  // namespace trv4
