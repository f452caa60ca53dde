// What the line carries back, decided by the input, into the real scan cycle in virtual time:
// whole and broken frames, noise, echoes and replies from any address, in pieces and at times
// the input chooses, while the operator queues commands. The link must file a reply only under
// a scale it may file it under, keep its buffer within its limit, and go on polling once the
// line is quiet.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include "display/monitor_model.h"
#include "fuzz/require.h"
#include "link/frame.h"
#include "link/scale_link.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

void require(bool ok, const char* what) {
  fuzz::require(ok, "link reception", what);
}

std::string frameOf(char address, const std::string& body) {
  const std::string head = std::string(1, STX) + address + body;
  return head + FrameBcc(head) + ETX;
}

// Checks each piece the link files against the mailboxes, as the service tools see it.
struct FilingCheck : LineObserver {
  explicit FilingCheck(const LinkState& s) : state(s) {}
  void sent(int, bool, std::string_view frame) override {
    // A scale given a new address may answer under it: then the address check does not hold.
    renaming = frame.size() > 4 && frame.substr(2, 2) == "S2";
  }
  void received(int scale, RxKind kind, std::string_view bytes) override {
    if (kind != RxKind::StatusReply && kind != RxKind::Reply) return;
    require(scale >= 0 && scale < kMaxScales, "a reply filed outside the scales");
    require(bytes.size() >= 6 && bytes.front() == STX && bytes.back() == ETX,
            "a reply filed that is no whole frame");
    require(renaming || bytes[1] == scaleAddress(scale), "a reply filed under another address");
    if (kind == RxKind::StatusReply) {
      require(state.StatusReply[scale] == bytes.substr(3, bytes.size() - 6),
              "the status mailbox does not hold the frame's payload");
    }
  }
  void timedOut(int, std::string_view) override {}
  const LinkState& state;
  bool renaming = false;
};

const char* const kCommands[] = {"Z", "T", "G", "R", "p1", "p3123456", "S2B", "c0", "?0"};

void run(FuzzedDataProvider& in) {
  test::VirtualToolkit tk;
  LinkState state;
  for (int i = 0; i < kMaxScales; ++i) state.ScanList[i] = in.ConsumeBool() ? 1 : 0;
  state.StatusReplyTimeout = in.ConsumeIntegralInRange(0, 300);
  state.CommandReplyTimeout = in.ConsumeIntegralInRange(0, 600);
  state.StatusScanDelay = in.ConsumeIntegralInRange(0, 200);
  state.CommandScanDelay = in.ConsumeIntegralInRange(0, 200);
  state.CharTimeout = in.ConsumeIntegralInRange(0, 100);
  state.UnitFlag = in.ConsumeIntegralInRange(0, 1);
  DisplaySettings settings;
  settings.StepCombo = in.ConsumeRandomLengthString(4);
  const bool single = in.ConsumeBool();
  const std::string selection(1, static_cast<char>(in.ConsumeIntegralInRange('@', '^')));

  test::SimSerialPort port(tk);
  port.setPortOpen(true);
  MonitorModel monitor(state, settings, [] {});
  ScaleLink link(state, port, tk, monitor,
                 {[single] { return single; }, [selection] { return selection; }});
  FilingCheck check(state);
  link.addObserver(check);

  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0: {  // raw bytes from the line
        const std::string bytes = in.ConsumeRandomLengthString(80);
        port.deliver(bytes, in.ConsumeIntegralInRange(0, 80));
        break;
      }
      case 1: {  // a whole frame, most often from the scale asked last
        const std::string& last = link.exchange().LastSentFrame;
        const char address = in.ConsumeBool() && last.size() > 1
                                 ? last[1]
                                 : static_cast<char>(in.ConsumeIntegralInRange('@', '`'));
        const std::string frame = frameOf(address, in.ConsumeRandomLengthString(16));
        // In two pieces, the second a little later, as an adapter hands them over.
        const std::size_t cut = in.ConsumeIntegralInRange<std::size_t>(0, frame.size());
        const int delay = in.ConsumeIntegralInRange(0, 40);
        port.deliver(frame.substr(0, cut), delay);
        port.deliver(frame.substr(cut), delay + in.ConsumeIntegralInRange(0, 30));
        break;
      }
      case 2: {  // the operator queues a command
        const int slot = in.ConsumeIntegralInRange(0, kBroadcastSlot);
        state.CommandQueue[slot] = in.PickValueInArray(kCommands);
        break;
      }
      default:
        tk.advance(in.ConsumeIntegralInRange(0, 200));
        break;
    }
    require(link.exchange().RxBuffer.size() <= kRxBufferLimit,
            "the receive buffer grew past its limit");
  }
  tk.advance(200);  // every delivery is in

  for (int i = kMaxScales; i < kMailboxCount; ++i) {
    require(state.StatusReply[i].empty() && state.CommandReply[i].empty(),
            "a mailbox beyond the scales was filled");
  }
  for (int i = 0; i < kMaxScales; ++i)
    require(monitor.panel(i).view.text.size() <= 32, "a panel shows an overlong text");

  // Once the line is quiet, the next requests go out within the time-outs and scan delays.
  bool anyServed = false;
  for (int i = 0; i < kMaxScales; ++i) anyServed = anyServed || link.serves(i);
  if (!anyServed) return;
  const int exchange = std::max(state.StatusReplyTimeout, state.CommandReplyTimeout) +
                       std::max(state.StatusScanDelay, state.CommandScanDelay) + state.CharTimeout +
                       2;
  const std::size_t before = port.writes.size();
  tk.advance(2 * exchange);
  require(port.writes.size() >= before + 2, "polling stopped after the line went quiet");
}

}  // namespace
}  // namespace trv4

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  trv4::run(in);
  return 0;
}
