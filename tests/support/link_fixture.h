// A scale link on a simulated line in virtual time; its first tick comes at 100 ms. The rig is the
// link's display too: it records what is shown and reloads the countdown on a status reply as the
// monitor does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "link/command_queue.h"
#include "link/frame.h"
#include "link/scale_link.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {

// STX, address, body, BCC, ETX.
inline std::string makeFrame(char address, const std::string& body) {
  const std::string head = std::string(1, STX) + address + body;
  return head + FrameBcc(head) + ETX;
}

struct LinkRig : ScanDisplay {
  explicit LinkRig(const char* enabled = "ABCDEFGH") {
    port.setPortOpen(true);
    enableOnly(enabled);
  }
  void DispWeight(int16_t scl, const std::string& status) override {
    state.DisplayHold[scl] = state.DisplayHoldReload;
    weights.push_back({scl, status});
  }
  void blankPanel(int scale) override { blanks.push_back({tk.now(), scale}); }
  void setAddressHighlight(int, bool) override {}

  // Only the scales with the given addresses are polled.
  void enableOnly(const std::string& addresses) {
    state.ScanList.fill(0);
    for (char a : addresses) state.ScanList[a - 'A'] = 1;
  }
  // Scales answer a status request with a status reply and a command with ACK, after `delay`.
  void answerEverything(int64_t delay = 10) {
    port.onWrite = [this, delay](const std::string& frame) {
      if (frame.size() < 5 || frame[1] == '@') return;
      const bool status = frame.substr(2, 2) == "?0";
      port.deliver(makeFrame(frame[1], status ? "?0 12.50" : "\x06"), delay);
    };
  }
  // Address and body of every frame written, space-separated.
  std::string sent() const {
    std::string out;
    for (const auto& w : port.writes) out += " " + w.bytes.substr(1, w.bytes.size() - 4);
    return out.empty() ? out : out.substr(1);
  }

  VirtualToolkit tk;  // first: it outlives every timer
  LinkState state;
  SimSerialPort port{tk};
  std::vector<std::pair<int, std::string>> weights;
  std::vector<std::pair<int64_t, int>> blanks;  // time, scale
  bool singleChecked = false;
  std::string selection = "@";
  ScaleLink link{
      state, port, tk, *this, {[this] { return singleChecked; }, [this] { return selection; }}};
};

struct LinkTest : ::testing::Test, LinkRig {};

}  // namespace trv4::test
