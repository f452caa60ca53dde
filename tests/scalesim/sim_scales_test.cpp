#include "tests/support/sim_scales.h"

#include <gtest/gtest.h>

namespace trv4::test {
namespace {

using scalesim::makeFrame;

struct Rig {
  explicit Rig(scalesim::NetworkOptions o) : port(toolkit), scales(toolkit, port, std::move(o)) {
    port.setOnComm([this] {
      if (port.commEvent() != kCommEventReceive) return;
      arrivals.push_back({toolkit.now(), port.input()});
    });
    port.setRThreshold(1);
    EXPECT_FALSE(port.setPortOpen(true));
  }
  std::string all() const {
    std::string s;
    for (auto& a : arrivals) s += a.bytes;
    return s;
  }
  VirtualToolkit toolkit;
  SimSerialPort port;
  SimScales scales;
  struct Arrival {
    int64_t at;
    std::string bytes;
  };
  std::vector<Arrival> arrivals;
};

scalesim::NetworkOptions options() {
  scalesim::NetworkOptions o;
  o.addresses = {'A', 'B'};
  o.movingWeights = false;
  o.replyDelayUs = 4000;
  return o;
}

TEST(SimScales, ReplyArrivesAtTheModelsTimeInVirtualTime) {
  Rig rig(options());
  rig.toolkit.advance(10);
  rig.port.output(makeFrame('A', "?0"));
  ASSERT_TRUE(rig.toolkit.runUntil([&] { return !rig.arrivals.empty(); }, 1000));
  EXPECT_EQ(rig.arrivals[0].at, 14);
  EXPECT_EQ(rig.all().substr(0, 3),
            "\x02"
            "A?");
  ASSERT_EQ(rig.scales.received().size(), 1u);
  EXPECT_EQ(rig.scales.received()[0].atUs, 10000);
}

TEST(SimScales, CharacterTimeSpreadsTheReplyOverMilliseconds) {
  auto o = options();
  o.baud = 9600;
  o.bitsPerChar = 10;
  o.replyDelayUs = 0;
  o.echo = true;
  Rig rig(o);
  std::string request = makeFrame('A', "?0");
  rig.port.output(request);
  rig.toolkit.advance(100);
  // Echo (7 characters) then the 13-character reply: 20 characters at 1.042 ms each.
  std::string got = rig.all();
  ASSERT_EQ(got.size(), 20u);
  EXPECT_EQ(got.substr(0, 7), request);
  EXPECT_GE(rig.arrivals.size(), 15u);  // byte by byte, not in one piece
  EXPECT_EQ(rig.arrivals.front().at, 2);
  EXPECT_EQ(rig.arrivals.back().at, 21);  // 20 * 1.042 ms, delivered at the end of ms 21
}

TEST(SimScales, ClosedPortLosesTheReplyAndStreamingNeverStops) {
  auto o = options();
  std::string error;
  o.faults.push_back(*scalesim::parseFault("stream:B", &error));
  Rig rig(o);
  rig.toolkit.advance(50);
  size_t seen = rig.all().size();
  EXPECT_GE(seen, 45u * 256);
  rig.port.setPortOpen(false);
  rig.toolkit.advance(50);
  rig.port.setPortOpen(true);
  rig.toolkit.advance(50);
  // The 50 ms while the port was closed are lost.
  EXPECT_LT(rig.all().size(), seen + 55 * 256);
  EXPECT_GT(rig.all().size(), seen + 45 * 256);
}

}  // namespace
}  // namespace trv4::test
