// A weighing desk on a monitor in virtual time, the monitor fed status replies as the link feeds
// it: what the tests of the capture rules, the Captures window, delivery and export build on.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "capture/weighing_desk.h"
#include "display/monitor_model.h"
#include "display/weight_format.h"
#include "tests/support/memory_journal.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {

// A status reply: the flags character, then the six-character weight field.
inline std::string statusReply(int bits, const std::string& field) {
  return static_cast<char>(0x40 | bits) + field;
}

// The desk commits to the journal in memory here unless it is given another, through
// InlineJournal.
struct DeskOnMonitor {
  // served(i): whether scale i is polled; every scale unless told.
  explicit DeskOnMonitor(std::function<bool(int)> served = [](int) { return true; })
      : desk(monitor, tk, std::move(served), inlineJournal) {
    monitor.load();
  }
  explicit DeskOnMonitor(CaptureJournal& other)
      : inlineJournal(other, tk),
        desk(
            monitor, tk, [](int) { return true; }, inlineJournal) {
    monitor.load();
  }
  // On a journal answering from the Qt event loop: take() is then the test's own to do.
  explicit DeskOnMonitor(AsyncJournal& other)
      : desk(
            monitor, tk, [](int) { return true; }, other) {
    monitor.load();
  }
  // The journal's side ran as the desk asked (marks, reads): its answers are in.
  void settle() { tk.advance(2); }

  // Scale i shows a settled weight field.
  void settled(int scale, const std::string& field) {
    monitor.DispWeight(static_cast<int16_t>(scale), statusReply(StableBit, field));
  }
  // Takes n captures of 12.50 kg, of scales A, B, C ... in turn, each on one settled reply.
  void take(int n) {
    for (int i = 0; i < n; ++i) {
      CaptureRequest r;
      r.scale = i % 3;
      r.stableAnswers = 1;
      r.requestedBy = "operator";
      std::optional<CaptureOutcome> got;
      desk.capture(r, [&](const CaptureOutcome& o) { got = o; });
      settled(r.scale, "012.50");
      tk.runUntil([&] { return got.has_value(); }, 1000);
      ASSERT_TRUE(got && got->capture) << (got ? got->message : "no outcome");
    }
  }

  VirtualToolkit tk;
  LinkState state;
  DisplaySettings settings;
  MonitorModel monitor{state, settings, {}};
  MemoryJournal journal;
  InlineJournal inlineJournal{journal, tk};
  WeighingDesk desk;
};

}  // namespace trv4::test
