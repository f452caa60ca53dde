// The state every window of the program shares with the scale link: the per-scale mailboxes, the
// scan flags, the display countdowns and the link timings. One instance lives for the whole run.
#pragma once

#include <algorithm>
#include <array>
#include <string>

namespace trv4 {

inline constexpr int kMailboxCount = 38;   // entries 0..37 of each mailbox
inline constexpr int kBroadcastSlot = 30;  // CommandQueue entry sent to address "@"
inline constexpr int kScanListSize = 36;
inline constexpr int kMaxScales = 30;  // addresses "A" (index 0) to "^" (index 29)

// Address character of scale index i.
inline char scaleAddress(int i) {
  return static_cast<char>('A' + i);
}

// Index 0..29 of a scale address "A".."^"; -1 for "@" and for any other text.
inline int scaleIndex(const std::string& address) {
  if (address.size() != 1) return -1;
  const int i = static_cast<unsigned char>(address[0]) - 'A';
  return (i >= 0 && i < kMaxScales) ? i : -1;
}

struct LinkState {
  int ScaleCount = kMaxScales;
  int ScanIndex = kMaxScales - 1;  // so the first scan step begins at scale 0

  std::array<int, kScanListSize> ScanList{};  // 1 = polled in the normal cycle
  int SingleScaleMode = 0;

  std::array<std::string, kMailboxCount> CommandQueue;
  std::array<std::string, kMailboxCount> CommandReply;
  std::array<std::string, kMailboxCount> StatusReply;

  int DisplayHoldReload = 50;
  std::array<int, kMaxScales> DisplayHold{};

  // Link timings in ms, from the configuration file.
  int StatusReplyTimeout = 50;
  int CommandReplyTimeout = 300;
  int StatusScanDelay = 100;
  int CommandScanDelay = 100;
  int CharTimeout = 20;

  int UnitFlag = 0;  // 0 = kilograms, other = pounds

  LinkState() { reset(); }

  // The start-up initialisation of the main window's load handler.
  void reset() {
    ScaleCount = kMaxScales;
    ScanIndex = ScaleCount - 1;
    CommandQueue.fill({});
    CommandReply.fill({});
    StatusReply.fill({});
    ScanList.fill(0);
    for (int i = 0; i < 8; ++i) ScanList[i] = 1;
    DisplayHoldReload = 50;
    DisplayHold.fill(DisplayHoldReload);
  }

  void setDefaultTimings() {
    StatusReplyTimeout = 50;
    CommandReplyTimeout = 300;
    StatusScanDelay = 100;
    CommandScanDelay = 100;
    CharTimeout = 20;
  }
};

// Whether scale i is marked for the normal cycle: a 1 in ScanList, within the scale count.
inline bool scanMarked(const LinkState& state, int i) {
  return i >= 0 && i < std::clamp(state.ScaleCount, 1, kMaxScales) && state.ScanList[i] == 1;
}

// Whether the cycle polls scale i now. alone: in single-scale mode with an address selected,
// that scale's index (only it is polled), else -1 (the marked scales are).
inline bool servedNow(const LinkState& state, int i, int alone) {
  if (i < 0 || i >= std::clamp(state.ScaleCount, 1, kMaxScales)) return false;
  return alone >= 0 ? i == alone : state.ScanList[i] == 1;
}

}  // namespace trv4
