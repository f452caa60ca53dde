// A scale link on a simulated line in virtual time, with a recording monitor and an optional
// scripted responder standing in for the scales.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/scale_link.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {

// Records what the link shows; reloads the countdown on a status reply as the monitor does.
class RecordingDisplay : public ScanDisplay {
 public:
  explicit RecordingDisplay(LinkState& state, VirtualToolkit& tk) : state_(state), tk_(tk) {}
  void DispWeight(int16_t scl, const std::string& status) override {
    state_.DisplayHold[scl] = state_.DisplayHoldReload;
    weights.push_back({scl, status});
  }
  void blankPanel(int scale) override { blanks.push_back({tk_.now(), scale}); }
  void setAddressHighlight(int scale, bool polled) override {
    highlights.push_back({scale, polled});
  }

  struct Weight {
    int scale;
    std::string status;
  };
  struct Blank {
    int64_t at;
    int scale;
  };
  std::vector<Weight> weights;
  std::vector<Blank> blanks;
  std::vector<std::pair<int, bool>> highlights;

 private:
  LinkState& state_;
  VirtualToolkit& tk_;
};

// STX, address, body, BCC, ETX.
inline std::string makeFrame(char address, const std::string& body) {
  const std::string head = std::string(1, STX) + address + body;
  return head + FrameBcc(head) + ETX;
}

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() { port.setPortOpen(true); }

  void start() {
    link = std::make_unique<ScaleLink>(
        state, port, tk, display,
        SingleScaleSource{[this] { return singleChecked; }, [this] { return selection; }});
  }

  // Only the listed scale indices are polled.
  void enableOnly(std::initializer_list<int> scales) {
    state.ScanList.fill(0);
    for (int i : scales) state.ScanList[i] = 1;
  }

  // Scales answer after replyDelay: a status request with a status reply, a command with ACK;
  // broadcasts get no answer.
  void answerEverything(int64_t replyDelay = 10) {
    port.onWrite = [this, replyDelay](const std::string& frame) {
      if (frame.size() < 5 || frame[1] == '@') return;
      const bool status = frame.substr(2, 2) == "?0";
      port.deliver(makeFrame(frame[1], status ? "?0 12.50" : "\x06"), replyDelay);
    };
  }

  // Address character and body of every frame written.
  std::vector<std::string> sent() const {
    std::vector<std::string> out;
    for (const auto& w : port.writes) {
      out.push_back(w.bytes.size() >= 5 ? w.bytes.substr(1, w.bytes.size() - 4) : w.bytes);
    }
    return out;
  }

  VirtualToolkit tk;  // first: it outlives every timer
  LinkState state;
  SimSerialPort port{tk};
  RecordingDisplay display{state, tk};
  bool singleChecked = false;
  std::string selection = "@";
  std::unique_ptr<ScaleLink> link;
};

}  // namespace trv4::test
