#include "app/config.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/file_names.h"
#include "base/numeric_text.h"
#include "base/whole_file.h"

namespace trv4 {

namespace {

constexpr int kConfigLines = 8;

const char* const kTimingComments[5] = {
    "  ' wait status responce STX",
    "  ' wait Command responce stx",
    "  ' wait for next scan if this scan is a status",
    "  ' wait for next scan if this scan is a command",
    "  ' wait character reception",
};

struct Line {
  std::string text;        // at most kConfigLineCap characters of the line
  bool truncated = false;  // the line went on beyond what was kept
};

// Reads up to kConfigLines lines. A line ends at CR, LF or CRLF; the last line may end at the end
// of the file. Only the capped start of each line is kept, so no input grows memory.
int readLines(std::FILE* file, std::array<Line, kConfigLines>& lines) {
  int count = 0;
  int c = std::getc(file);
  while (count < kConfigLines && c != EOF) {
    Line& line = lines[count++];
    while (c != EOF && c != '\r' && c != '\n') {
      if (line.text.size() < kConfigLineCap) {
        line.text.push_back(static_cast<char>(c));
      } else {
        line.truncated = true;
      }
      c = std::getc(file);
    }
    if (c == '\r') {
      c = std::getc(file);
      if (c == '\n') c = std::getc(file);
    } else if (c == '\n') {
      c = std::getc(file);
    }
  }
  return count;
}

// Up to `length` characters of the line from 0-based position `pos`; empty beyond its end.
std::string_view field(const std::string& line, std::size_t pos, std::size_t length) {
  if (pos >= line.size()) return {};
  return std::string_view(line).substr(pos, length);
}

// Timings are read from four characters; what cannot be a time in ms (negative, or beyond
// four digits through an exponent) is left as it was.
bool readTiming(const std::string& line, int* value) {
  const double v = numericValue(field(line, 1, 4));
  if (!(v >= 0.0 && v <= 9999.0)) return false;
  *value = static_cast<int>(std::lround(v));
  return true;
}

// At least four digits with leading zeros; longer values in full.
std::string fourDigits(int value) {
  std::string digits = std::to_string(value < 0 ? -static_cast<long long>(value) : value);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

std::string quoted(const std::string& content) {
  return "\"" + content + "\"\r\n";
}

int scaleCount(const LinkState& state) {
  return std::clamp(state.ScaleCount, 0, kMaxScales);
}

}  // namespace

Configuration::Configuration(LinkState& state, SerialPort& port, Toolkit& toolkit, std::string path)
    : replaceFile(renameOver),
      state_(state),
      port_(port),
      toolkit_(toolkit),
      path_(std::move(path)) {}

bool Configuration::LoadSettings() {
  state_.setDefaultTimings();

  std::FILE* file = openFile(path_, "rb");
  if (file == nullptr) return probeForPort();
  std::array<Line, kConfigLines> lines;
  const int count = readLines(file, lines);
  std::fclose(file);
  // Editors that save UTF-8 may put a byte-order mark in front of the first line; read by
  // position it would hide the port number.
  if (count >= 1 && lines[0].text.starts_with("\xEF\xBB\xBF")) lines[0].text.erase(0, 3);

  // Each value comes from its own line; a missing line or a value the port refuses is skipped
  // and reading goes on with the next.
  if (count >= 1) {
    const int port = static_cast<int>(numericValue(field(lines[0].text, 1, 1)));
    port_.setCommPort(port);
  }
  if (count >= 2 && !lines[1].truncated && lines[1].text.size() >= 2) {
    const std::string& text = lines[1].text;
    port_.setSettings(text.substr(1, text.size() - 2));
  }
  int* const timings[5] = {&state_.StatusReplyTimeout, &state_.CommandReplyTimeout,
                           &state_.StatusScanDelay, &state_.CommandScanDelay, &state_.CharTimeout};
  for (int t = 0; t < 5; ++t) {
    if (count >= 3 + t) readTiming(lines[2 + t].text, timings[t]);
  }
  if (count >= 8) {
    // Each scale keeps its digit's value (a character that is no digit, or a line too short,
    // gives 0), so a hand-edited digit is written back as it was. Only a 1 is polled.
    for (int k = 1; k <= scaleCount(state_); ++k) {
      state_.ScanList[k - 1] = static_cast<int>(numericValue(field(lines[7].text, k, 1)));
    }
  }

  // A port that cannot be opened stays closed without a message; nothing is polled until the
  // settings dialog opens one.
  port_.setPortOpen(true);
  return true;
}

bool Configuration::probeForPort() {
  toolkit_.messageBox("INI FILE MISSING");
  int found = 0;
  for (int port = 5; port >= 1; --port) {
    if (port_.setCommPort(port)) continue;
    if (port_.setPortOpen(true)) continue;
    if (port_.setPortOpen(false)) continue;
    found = port;
  }
  if (found == 0) {
    toolkit_.messageBox("No Serial Port Available");
    return false;
  }
  port_.setCommPort(found);
  port_.setPortOpen(true);
  return true;
}

std::string Configuration::settingsText() const {
  std::string text;
  text += quoted(std::to_string(port_.commPort()) + " ' port nr 1,2,3,4");
  text += quoted(port_.settings());
  const int timings[5] = {state_.StatusReplyTimeout, state_.CommandReplyTimeout,
                          state_.StatusScanDelay, state_.CommandScanDelay, state_.CharTimeout};
  for (int t = 0; t < 5; ++t) text += quoted(fourDigits(timings[t]) + kTimingComments[t]);
  std::string flags;
  for (int i = 0; i < scaleCount(state_); ++i) flags += std::to_string(state_.ScanList[i]);
  text += quoted(flags + "  ' Scales To Scan");
  return text;
}

void Configuration::SaveSettings() {
  // The new text goes to a file beside the old one and then replaces it in one rename, so the
  // old file is never left truncated or half written.
  const std::string temporary = path_ + ".tmp";
  if (!writeWholeFile(temporary, settingsText())) {
    toolkit_.messageBox("CAN NOT WRITE INI FILE");
    return;
  }
  if (!replaceFile || !replaceFile(temporary, path_)) {
    removeFile(temporary);
    toolkit_.messageBox("CAN NOT WRITE INI FILE");
  }
}

}  // namespace trv4
