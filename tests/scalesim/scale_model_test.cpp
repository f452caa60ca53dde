#include "tools/scalesim/scale_model.h"

#include <gtest/gtest.h>

namespace trv4::scalesim {
namespace {

constexpr int64_t kMs = 1000;

NetworkOptions quiet(std::set<char> addresses = {'A', 'B'}) {
  NetworkOptions o;
  o.addresses = std::move(addresses);
  o.movingWeights = false;
  o.replyDelayUs = 2 * kMs;
  return o;
}

// Sends one request at atUs and returns everything the line carries back within 100 ms.
std::string ask(ScaleNetwork& net, char address, const std::string& body, int64_t atUs) {
  net.receive(makeFrame(address, body), atUs);
  std::string out;
  for (auto& o : net.takeOutput(atUs + 100 * kMs)) out += o.bytes;
  return out;
}

// The body of a reply frame (between the address and the block check), "" when malformed.
std::string bodyOf(const std::string& frame) {
  if (frame.size() < 5 || frame.front() != kStx || frame.back() != kEtx) return "<bad frame>";
  std::string head = frame.substr(0, frame.size() - 3);
  if (blockCheck(head) != frame.substr(frame.size() - 3, 2)) return "<bad bcc>";
  return frame.substr(2, frame.size() - 5);
}

std::string status(ScaleNetwork& net, char address, int64_t atUs) {
  std::string body = bodyOf(ask(net, address, "?0", atUs));
  return body.empty() ? body : body.substr(1);  // flags + field, without the "?"
}

int flagsOf(const std::string& payload) {
  return payload.empty() ? -1 : payload[0] & 0x3F;
}

TEST(ScaleModelFrames, BlockCheckMatchesTheLinksFrames) {
  EXPECT_EQ(makeFrame('A', "?0"), std::string("\x02"
                                              "A?04<\x03"));
  EXPECT_EQ(makeFrame('A', "Z"), std::string("\x02"
                                             "AZ19\x03"));
  EXPECT_EQ(makeFrame('B', "R"), std::string("\x02"
                                             "BR12\x03"));
  EXPECT_EQ(makeFrame('@', "R"), std::string("\x02"
                                             "@R10\x03"));
  // High nibbles give the characters after "9".
  EXPECT_EQ(blockCheck(std::string("\x02\xFF", 2)), "?=");
}

TEST(ScaleModelFrames, FramesSplitJoinedAndAmidGarbageAreAllAnswered) {
  ScaleNetwork net(quiet());
  std::string a = makeFrame('A', "?0"), b = makeFrame('B', "?0");
  std::string line = "\x03junk" + a.substr(0, 3);
  net.receive(line, 0);
  net.receive(a.substr(3) + "\x7f\xff" + b + "\x02\x02", 1 * kMs);
  std::vector<std::string> replies;
  for (auto& o : net.takeOutput(50 * kMs)) replies.push_back(o.bytes);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].substr(0, 3),
            "\x02"
            "A?");
  EXPECT_EQ(replies[1].substr(0, 3),
            "\x02"
            "B?");
  ASSERT_EQ(net.received().size(), 2u);
  EXPECT_TRUE(net.received()[0].valid);
}

TEST(ScaleModelFrames, SilentForAbsentScalesBadBlockChecksAndBroadcasts) {
  ScaleNetwork net(quiet());
  EXPECT_EQ(ask(net, 'C', "?0", 0), "");
  std::string bad = makeFrame('A', "?0");
  bad[3] = '9';
  net.receive(bad, 10 * kMs);
  EXPECT_TRUE(net.takeOutput(200 * kMs).empty());
  EXPECT_FALSE(net.received().back().valid);
  EXPECT_EQ(ask(net, '@', "?0", 300 * kMs), "");
}

TEST(ScaleModelWeighing, StatusReplyCarriesFlagsAndSixCharacterField) {
  ScaleNetwork net(quiet());
  net.setLoad('A', 12.34, 0);
  std::string reply = ask(net, 'A', "?0", 10 * kMs);
  // STX A ? flags six characters BCC BCC ETX.
  ASSERT_EQ(reply.size(), 13u);
  EXPECT_EQ(bodyOf(reply).substr(0, 1), "?");
  std::string moving = bodyOf(reply).substr(1);
  EXPECT_EQ(flagsOf(moving) & kStableBit, 0);
  std::string settled = status(net, 'A', 2000 * kMs);
  EXPECT_EQ(settled.substr(1), "012.34");
  EXPECT_EQ(flagsOf(settled), kStableBit);
  EXPECT_EQ(settled[0] & 0x40, 0x40);  // printable, never STX or ETX
}

TEST(ScaleModelWeighing, TareGrossZeroOffRangeAndNegative) {
  ScaleNetwork net(quiet());
  net.setLoad('A', 10, 0);
  int64_t t = 2000 * kMs;
  EXPECT_EQ(bodyOf(ask(net, 'A', "T", t)), "\x06");
  std::string s = status(net, 'A', t + 10 * kMs);
  EXPECT_EQ(s.substr(1), "000.00");
  EXPECT_EQ(flagsOf(s), kStableBit | kNetBit);
  net.setLoad('A', 15.5, t + 20 * kMs);
  t += 2000 * kMs;
  EXPECT_EQ(status(net, 'A', t).substr(1), "005.50");
  ask(net, 'A', "G", t + 10 * kMs);
  s = status(net, 'A', t + 20 * kMs);
  EXPECT_EQ(s.substr(1), "015.50");
  EXPECT_EQ(flagsOf(s) & kNetBit, 0);
  ask(net, 'A', "Z", t + 30 * kMs);
  s = status(net, 'A', t + 40 * kMs);
  EXPECT_EQ(s.substr(1), "000.00");
  EXPECT_EQ(flagsOf(s), kStableBit | kMarkBit);
  net.setLoad('A', 14, t + 50 * kMs);  // 1.5 kg below the new zero
  t += 2000 * kMs;
  s = status(net, 'A', t);
  EXPECT_EQ(s.substr(1), "001.50");
  EXPECT_EQ(flagsOf(s), kStableBit | kNegativeBit);
  net.setLoad('A', 400, t);
  s = status(net, 'A', t + 2000 * kMs);
  EXPECT_NE(flagsOf(s) & kOffRangeBit, 0);
}

TEST(ScaleModelWeighing, BroadcastActsOnEveryScaleWithoutReply) {
  ScaleNetwork net(quiet());
  net.setLoad('A', 3, 0);
  net.setLoad('B', 4, 0);
  EXPECT_EQ(ask(net, '@', "T", 2000 * kMs), "");
  EXPECT_NE(flagsOf(status(net, 'A', 2100 * kMs)) & kNetBit, 0);
  EXPECT_NE(flagsOf(status(net, 'B', 2200 * kMs)) & kNetBit, 0);
}

TEST(ScaleModelWeighing, MovingWeightsRepeatForTheSameSeed) {
  auto trace = [](uint64_t seed) {
    NetworkOptions o = quiet({'A'});
    o.movingWeights = true;
    o.seed = seed;
    ScaleNetwork net(o);
    std::string all;
    for (int i = 0; i < 200; ++i) all += status(net, 'A', i * 100 * kMs);
    return all;
  };
  std::string one = trace(7);
  EXPECT_EQ(one, trace(7));
  EXPECT_NE(one, trace(8));
  // Over 20 s the weight both moves and settles.
  bool moved = false, settled = false;
  for (size_t i = 0; i < one.size(); i += 7) {
    ((one[i] & kStableBit) ? settled : moved) = true;
  }
  EXPECT_TRUE(moved);
  EXPECT_TRUE(settled);
}

TEST(ScaleModelLine, EchoComesFirstByteForByteThenTheReply) {
  NetworkOptions o = quiet();
  o.echo = true;
  ScaleNetwork net(o);
  std::string request = makeFrame('A', "?0");
  std::string out = ask(net, 'A', "?0", 0);
  ASSERT_GT(out.size(), request.size());
  EXPECT_EQ(out.substr(0, request.size()), request);
  EXPECT_EQ(bodyOf(out.substr(request.size())).substr(0, 1), "?");
  // Echo even for an absent scale: the line, not the scale, returns it.
  EXPECT_EQ(ask(net, 'Z', "?0", 500 * kMs), makeFrame('Z', "?0"));
}

TEST(ScaleModelLine, CharacterTimeAndReplyDelay) {
  NetworkOptions o = quiet();
  o.baud = 9600;
  o.bitsPerChar = bitsPerCharacter("7E1");
  o.replyDelayUs = 5 * kMs;
  ScaleNetwork net(o);
  const int64_t c = net.characterTimeUs();
  EXPECT_EQ(c, 1042);  // 10 bits at 9600 baud, rounded up
  net.receive(makeFrame('A', "?0"), 0);
  ASSERT_EQ(net.received().size(), 1u);
  EXPECT_EQ(net.received()[0].atUs, 7 * c);  // the request itself takes seven characters
  std::vector<LineOutput> out = net.takeOutput(1'000 * kMs);
  ASSERT_EQ(out.size(), 13u);
  for (size_t k = 0; k < out.size(); ++k) {
    EXPECT_EQ(out[k].bytes.size(), 1u);
    EXPECT_EQ(out[k].atUs, 7 * c + 5 * kMs + static_cast<int64_t>(k + 1) * c) << k;
  }
  // Nothing is handed out before its time.
  net.receive(makeFrame('B', "?0"), 2000 * kMs);
  EXPECT_TRUE(net.takeOutput(2000 * kMs + 7 * c + 5 * kMs).empty());
  EXPECT_EQ(net.takeOutput(2000 * kMs + 7 * c + 5 * kMs + c).size(), 1u);
}

TEST(ScaleModelLine, RequestsFasterThanTheLineDoNotGrowTheScheduleWithoutBound) {
  NetworkOptions o = quiet();
  o.baud = 1200;
  o.echo = true;
  ScaleNetwork net(o);
  std::string burst;
  for (int i = 0; i < 1000; ++i) burst += makeFrame('A', "?0");
  for (int i = 0; i < 200; ++i) net.receive(burst, 0);
  size_t waiting = net.takeOutput(int64_t{1} << 50).size();
  EXPECT_GT(waiting, 50000u);
  EXPECT_LT(waiting, 110000u);
}

TEST(ScaleModelLine, BitsPerCharacterOfFrameFormats) {
  EXPECT_EQ(bitsPerCharacter("7E1"), 10);
  EXPECT_EQ(bitsPerCharacter("8N1"), 10);
  EXPECT_EQ(bitsPerCharacter("8E2"), 12);
  EXPECT_EQ(bitsPerCharacter("7n2"), 10);
  for (const char* bad : {"", "9N1", "8X1", "8N3", "8N", "8N11"})
    EXPECT_EQ(bitsPerCharacter(bad), 0) << bad;
}

TEST(ScaleModelOptions, AddressAndFaultTexts) {
  std::string error;
  EXPECT_EQ(parseAddresses("A-D", &error), (std::set<char>{'A', 'B', 'C', 'D'}));
  EXPECT_EQ(parseAddresses("A,C,[-^", &error), (std::set<char>{'A', 'C', '[', '\\', ']', '^'}));
  for (const char* bad : {"", "a", "A-", "D-A", "A,,B", "@", "_"}) {
    error.clear();
    EXPECT_TRUE(parseAddresses(bad, &error).empty()) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  auto f = parseFault("cut:B-C@0.25", &error);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->kind, FaultKind::kCut);
  EXPECT_EQ(f->addresses, (std::set<char>{'B', 'C'}));
  EXPECT_DOUBLE_EQ(f->rate, 0.25);
  f = parseFault("stream", &error);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->addresses.empty());
  for (const char* bad : {"fire", "cut@2", "cut@x", "cut@", "noise:", "silence:1"})
    EXPECT_FALSE(parseFault(bad, &error)) << bad;
}

TEST(ScaleModelParameters, ReadsAreLongEnoughAndEchoTheirName) {
  ScaleNetwork net(quiet());
  // Shortest answer the program accepts is one character longer than these lengths.
  struct Read {
    const char* name;
    size_t longerThan;
  };
  for (Read r : {Read{"d", 11},
                 {"s1", 8},
                 {"p1", 12},
                 {"p2", 9},
                 {"p3", 9},
                 {"q1", 9},
                 {"q2", 9},
                 {"f1", 8},
                 {"f4", 8},
                 {"i0", 9},
                 {"i4", 9}}) {
    std::string reply = ask(net, 'A', r.name, 0);
    EXPECT_GT(reply.size(), r.longerThan) << r.name;
    EXPECT_EQ(reply.substr(2, std::string(r.name).size()), r.name);
    EXPECT_NE(bodyOf(reply).substr(0, 1), "<") << r.name;
  }
  EXPECT_EQ(bodyOf(ask(net, 'A', "p9", 0)), "\x15");
}

TEST(ScaleModelParameters, WritesAreCheckedStoredAndReadBack) {
  ScaleNetwork net(quiet());
  struct Write {
    const char* command;
    bool accepted;
  };
  for (Write w : {Write{"P1214022", true},
                  {"P2059905", true},
                  {"P3210010", true},
                  {"Q100123", true},
                  {"Q212345", true},
                  {"S111000", true},
                  {"S2B9608", true},
                  {"P1914022", false},
                  {"P2039900", false},
                  {"P351000", false},
                  {"Q11234", false},
                  {"Q1123456", false},
                  {"S111001", false},
                  {"S2B9917", false},
                  {"X1", false}}) {
    EXPECT_EQ(bodyOf(ask(net, 'A', w.command, 0)), w.accepted ? "\x06" : "\x15") << w.command;
  }
  EXPECT_EQ(bodyOf(ask(net, 'A', "p1", 0)), "p1214022");
  EXPECT_EQ(bodyOf(ask(net, 'A', "q1", 0)), "q100123");
  // Decimal point 2 and step 05 now shape the weight field; leading zeros blank.
  net.setLoad('A', 3.42, 0);
  EXPECT_EQ(status(net, 'A', 2000 * kMs).substr(1), "  3.40");
  // A reset brings back what was stored; "W" stores.
  ask(net, 'A', "R", 2000 * kMs);
  EXPECT_EQ(bodyOf(ask(net, 'A', "p1", 2000 * kMs)), "p1204022");
  ask(net, 'A', "Q100777", 2000 * kMs);
  EXPECT_EQ(bodyOf(ask(net, 'A', "W", 2000 * kMs)), "\x06");
  ask(net, 'A', "R", 2000 * kMs);
  EXPECT_EQ(bodyOf(ask(net, 'A', "q1", 2000 * kMs)), "q100777");
  EXPECT_EQ(bodyOf(ask(net, 'A', "d", 2000 * kMs)), "d0000001");
}

TEST(ScaleModelParameters, PinLockRefusesWritesUntilUnlockedWithThePin) {
  ScaleNetwork net(quiet());
  EXPECT_EQ(bodyOf(ask(net, 'A', "J1000042", 0)), "\x06");
  EXPECT_EQ(bodyOf(ask(net, 'A', "d", 0)), "d2000000");
  EXPECT_EQ(bodyOf(ask(net, 'A', "Q100001", 0)), "\x15");
  EXPECT_EQ(bodyOf(ask(net, 'A', "W", 0)), "\x15");
  EXPECT_EQ(bodyOf(ask(net, 'A', "J0000041", 0)), "\x15");
  EXPECT_EQ(bodyOf(ask(net, 'A', "J1000041", 0)), "\x15");  // no relocking with another PIN
  EXPECT_EQ(bodyOf(ask(net, 'A', "J0000042", 0)), "\x06");
  EXPECT_EQ(bodyOf(ask(net, 'A', "d", 0)), "d0000000");
  EXPECT_EQ(bodyOf(ask(net, 'A', "Q100001", 0)), "\x06");
  net.scale('B')->calLock = true;
  EXPECT_EQ(bodyOf(ask(net, 'B', "d", 0)), "d1000000");
}

// Display texts of a scale over time, one per status request every 100 ms, collapsed runs.
std::vector<std::string> displays(ScaleNetwork& net, char address, int64_t fromUs, int64_t toUs) {
  std::vector<std::string> seen;
  for (int64_t t = fromUs; t < toUs; t += 100 * kMs) {
    std::string s = status(net, address, t);
    std::string shown = (flagsOf(s) & kTextBit) ? s.substr(1) : "weight";
    if (seen.empty() || seen.back() != shown) seen.push_back(shown);
  }
  return seen;
}

TEST(ScaleModelCalibration, WeightCornerAsksForEachCornerThenShowsTheWeight) {
  ScaleNetwork net(quiet());
  net.setLoad('A', 0, 0);
  int64_t t = 1000 * kMs;
  EXPECT_EQ(bodyOf(ask(net, 'A', "c0", t)), "\x06");
  EXPECT_EQ(displays(net, 'A', t, t + 2000 * kMs), (std::vector<std::string>{"  CAL ", "CORN.1"}));
  net.setLoad('A', 20, t);
  for (int n = 1; n <= 4; ++n) {
    t += 2000 * kMs;
    ask(net, 'A', "c" + std::to_string(n), t);
    std::vector<std::string> expect{"  CAL ", n < 4 ? "CORN." + std::to_string(n + 1) : "weight"};
    EXPECT_EQ(displays(net, 'A', t, t + 2000 * kMs), expect) << n;
  }
  // Out of turn: refused.
  EXPECT_EQ(bodyOf(ask(net, 'A', "c2", t + 3000 * kMs)), "\x15");
}

TEST(ScaleModelCalibration, LocksAndResolutionShowErrorsUntilAcknowledged) {
  ScaleNetwork net(quiet());
  net.scale('A')->calLock = true;
  int64_t t = 0;
  for (const char* cmd : {"a", "b02500", "c0", "A002712", "C1002712"}) {
    ask(net, 'A', cmd, t);
    EXPECT_EQ(status(net, 'A', t + 2000 * kMs).substr(1), "ERR 91") << cmd;
    ask(net, 'A', "\x06", t + 2100 * kMs);
    EXPECT_EQ(flagsOf(status(net, 'A', t + 2200 * kMs)) & kTextBit, 0) << cmd;
    t += 3000 * kMs;
  }
  // Span with nothing on the platform: not enough resolution.
  ask(net, 'B', "b02500", t);
  EXPECT_EQ(status(net, 'B', 5000 * kMs + t).substr(1), "ERR 90");
  // Zero calibration: a working text, then the weight, zeroed.
  t += 5000 * kMs;
  net.setLoad('B', 2, t);
  ask(net, 'B', "\x06", t + 3000 * kMs);
  ask(net, 'B', "a", t + 3100 * kMs);
  EXPECT_EQ(displays(net, 'B', t + 3100 * kMs, t + 5000 * kMs),
            (std::vector<std::string>{"  CAL ", "weight"}));
  EXPECT_EQ(status(net, 'B', t + 5000 * kMs).substr(1), "000.00");
}

TEST(ScaleModelCalibration, ElectronicCornerAsksForTheNextCornerAndRefusesTinySignals) {
  ScaleNetwork net(quiet());
  ask(net, 'A', "C1002712", 0);
  EXPECT_EQ(displays(net, 'A', 0, 2000 * kMs), (std::vector<std::string>{"  CAL ", "CORN.2"}));
  ask(net, 'A', "C2002712", 2000 * kMs);
  EXPECT_EQ(status(net, 'A', 4000 * kMs).substr(1), "CORN.3");
  ask(net, 'A', "C3000050", 4000 * kMs);
  EXPECT_EQ(status(net, 'A', 6000 * kMs).substr(1), "ERR 90");
  // Electronic zero and span are taken at once.
  EXPECT_EQ(bodyOf(ask(net, 'B', "A002712", 7000 * kMs)), "\x06");
  EXPECT_EQ(bodyOf(ask(net, 'B', "B05000", 7000 * kMs)), "\x06");
  EXPECT_EQ(bodyOf(ask(net, 'B', "B0500", 7000 * kMs)), "\x15");
}

TEST(ScaleModelFaults, EachFaultChangesTheRepliesAsNamed) {
  auto with = [](const char* spec) {
    NetworkOptions o = quiet();
    std::string error;
    o.faults.push_back(*parseFault(spec, &error));
    return o;
  };
  {
    ScaleNetwork net(with("silence:B"));
    EXPECT_EQ(ask(net, 'B', "?0", 0), "");
    EXPECT_NE(ask(net, 'A', "?0", 0), "");
  }
  {
    ScaleNetwork net(with("cut"));
    std::string r = ask(net, 'A', "?0", 0);
    EXPECT_FALSE(r.empty());
    EXPECT_EQ(r.find(kEtx), std::string::npos);
    EXPECT_EQ(r[0], kStx);
  }
  {
    ScaleNetwork net(with("double"));
    net.receive(makeFrame('A', "?0"), 0);
    auto out = net.takeOutput(100 * kMs);
    ASSERT_EQ(out.size(), 1u);            // one write ...
    EXPECT_EQ(out[0].bytes.size(), 26u);  // ... holding two status frames
    EXPECT_EQ(bodyOf(out[0].bytes.substr(13)).substr(0, 1), "?");
  }
  {
    ScaleNetwork net(with("noise"));
    std::string r = ask(net, 'A', "?0", 0);
    size_t stx = r.find(kStx);
    ASSERT_NE(stx, std::string::npos);
    EXPECT_GE(stx, 3u);
    EXPECT_EQ(bodyOf(r.substr(stx)).substr(0, 1), "?");
  }
  {
    ScaleNetwork net(with("stream:C"));
    // Characters without end, no frame ever complete, and never more than time allows.
    size_t total = 0;
    for (int64_t t = 0; t <= 10'000 * kMs; t += 1000 * kMs) {
      for (auto& o : net.takeOutput(t)) {
        total += o.bytes.size();
        EXPECT_EQ(o.bytes.find(kEtx), std::string::npos);
      }
      ASSERT_TRUE(net.nextOutputTime());
    }
    EXPECT_GE(total, 9000u * 256);
    EXPECT_LE(total, 10001u * 256);
  }
  {
    NetworkOptions o = with("stream");
    o.baud = 9600;
    ScaleNetwork net(o);
    // At 9600 baud the stream fills the line and no more: 960 characters a second.
    size_t total = 0;
    for (auto& out : net.takeOutput(1000 * kMs)) total += out.bytes.size();
    EXPECT_EQ(total, 959u);
  }
}

TEST(ScaleModelFaults, RatedFaultsHitSomeRepliesAndRepeatPerSeed) {
  auto pattern = [](uint64_t seed) {
    NetworkOptions o = quiet();
    o.seed = seed;
    std::string error;
    o.faults.push_back(*parseFault("silence@0.5", &error));
    ScaleNetwork net(o);
    std::string p;
    for (int i = 0; i < 64; ++i) p += ask(net, 'A', "?0", i * 200 * kMs).empty() ? '-' : 'x';
    return p;
  };
  std::string p = pattern(3);
  EXPECT_EQ(p, pattern(3));
  auto silent = std::count(p.begin(), p.end(), '-');
  EXPECT_GT(silent, 16);
  EXPECT_LT(silent, 48);
}

}  // namespace
}  // namespace trv4::scalesim
