// The exchange counters fed by the link on a line of simulated scales, and the traffic ring's room.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "link/link_stats.h"
#include "link/traffic_ring.h"
#include "tests/support/link_fixture.h"
#include "tests/support/sim_scales.h"

namespace trv4::test {
namespace {

using scalesim::Fault;
using scalesim::FaultKind;

TEST_F(LinkTest, CountersTellASilentScaleABadBlockCheckAndANakApartAndResetToZero) {
  enableOnly("ABCD");
  scalesim::NetworkOptions options;
  options.addresses = {'A', 'B', 'C', 'D'};
  options.faults = {Fault{FaultKind::kSilence, {'B'}, 1.0}, Fault{FaultKind::kBadCheck, {'C'}, 1.0},
                    Fault{FaultKind::kNak, {'D'}, 1.0}};
  SimScales sims(tk, port, options);
  LinkStats stats(tk);
  link.addObserver(stats);
  QueueCommand(state, "A", "Z");
  tk.advance(20000);

  const ScaleCounters &a = stats.scale(0), &b = stats.scale(1), &c = stats.scale(2),
                      &d = stats.scale(3);
  EXPECT_GT(std::min({a.requests, b.requests, c.replies, d.replies}), 3u);
  EXPECT_EQ(std::tuple(a.commands, a.replies + 1 >= a.sentCount(), b.timeouts + 1 >= b.requests),
            std::tuple(1u, true, true));
  EXPECT_EQ(std::tuple(c.badCheck, d.naks), std::tuple(c.replies, d.replies));
  EXPECT_EQ(a.timeouts + a.badFrames() + a.naks + b.replies + c.naks + c.timeouts + d.badFrames(),
            0u);
  stats.reset();
  const ScaleCounters zero = stats.totals();
  EXPECT_EQ(
      std::tuple(zero.sentCount() + zero.replies + zero.timeouts + zero.badFrames() + zero.naks,
                 zero.lastReplyMs),
      std::tuple(0u, -1));
}

TEST(TrafficRingTest, HoldsExactlyTheLastEntriesOldestFirst) {
  VirtualToolkit tk;
  TrafficRing ring(tk);
  const std::size_t total = kTrafficCapacity + 7;
  for (std::size_t i = 1; i <= total; ++i) {
    tk.advance(1);
    ring.sent(static_cast<int>(i % kMaxScales), true, std::to_string(i));
  }
  ASSERT_EQ(ring.size(), kTrafficCapacity);
  auto held = [&] {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) bytes += ring.at(i).bytes.capacity();
    return bytes;
  };
  const std::size_t heldAtStart = held();
  EXPECT_LE(heldAtStart, kTrafficCapacity * 2 * kTrafficEntryBytes);
  EXPECT_EQ(std::tuple(ring.at(0).bytes, ring.at(0).sequence, ring.at(kTrafficCapacity - 1).bytes),
            std::tuple("8", 8u, std::to_string(total)));
  ring.clear();
  EXPECT_EQ(std::pair(ring.size(), ring.lastSequence()), std::pair(std::size_t{0}, total));

  // A flooding line: every slot keeps at most the start of its noise, however long it is, in
  // the room it took with its first entry.
  const std::string flood(5000, 'x');
  for (std::size_t i = 0; i < kTrafficCapacity; ++i) ring.received(0, RxKind::Noise, flood);
  EXPECT_EQ(held(), heldAtStart);
  EXPECT_EQ(ring.at(0).omitted, flood.size() - kTrafficEntryBytes);
}

}  // namespace
}  // namespace trv4::test
