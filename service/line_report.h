// The link statistics and the traffic as text: the rows the windows show and the files "Save…"
// writes. Texts are UTF-8; the line's bytes are shown with control characters named.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/link_stats.h"
#include "link/traffic_ring.h"

namespace trv4 {

// The columns of the statistics table and file, in order.
const std::vector<std::string>& statsColumns();
// One row: the scale's address (or "Line" for the totals) and its counters; times in ms, blank
// where nothing was measured yet. nowMs is the steady clock, for the time since the last reply.
std::vector<std::string> statsRow(const std::string& name, const ScaleCounters& c, int64_t nowMs);
// The whole statistics file: the columns, one line per scale that sent or received anything,
// the line's totals. Lines end with CR LF, as spreadsheets expect.
std::string statsCsv(const LinkStats& stats, int64_t nowMs);

// The bytes as text: printable characters as they are (Greek from the code page), control
// characters by name, e.g. "<STX>A?0<ETX>".
std::string namedText(std::string_view bytes);
// The bytes in hex, separated by blanks: "02 41 3F".
std::string hexText(std::string_view bytes);
// "status request", "time-out", ...
const char* trafficKindName(TrafficKind kind);
// The address "A".."^", "@" for a broadcast.
std::string scaleName(int scale);
// "14:03:59.125" by the local clock.
std::string timeOfDayMs(int64_t wallMs);
// "yes" / "no" for a frame, "" for what is no frame (noise, time-out).
std::string checkText(const TrafficEntry& e);

// The columns of the traffic view and file: time, direction, address, kind, text, hex, check.
const std::vector<std::string>& trafficColumns();
std::vector<std::string> trafficRow(const TrafficEntry& e);
// One field of the row, column 0..6.
std::string trafficField(const TrafficEntry& e, int column);
// One line of the traffic file: the fields of the row separated by tabs.
std::string trafficLine(const TrafficEntry& e);

}  // namespace trv4
