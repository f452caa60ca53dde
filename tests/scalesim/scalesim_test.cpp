// The simulated scales, where a wrong simulator would mislead the program's tests: the frames and
// flags they answer, echo, framing of what they receive, the endless stream, the options that set
// scales up, the line's timing the link tests and benchmark rely on (jitter, late replies,
// bursts). What the calibration and parameter tests drive through the model anyway (working
// texts, corners asked for, locks, errors, spoilt answers) is left to them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "tools/scalesim/line_faults.h"
#include "tools/scalesim/reply_tally.h"
#include "tools/scalesim/scale_model.h"
#include "tools/scalesim/scale_setup.h"

namespace trv4::scalesim {
namespace {

constexpr int64_t kMs = 1000;

NetworkOptions quiet(bool echo = false, const char* fault = nullptr) {
  NetworkOptions o{
      .addresses = {'A', 'B'}, .echo = echo, .movingWeights = false, .faults = {}, .setups = {}};
  if (fault) o.faults.push_back(*parseFault(fault, nullptr));
  return o;
}

// Sends one request at atUs and returns everything the line carries back within 100 ms.
std::string ask(ScaleNetwork& net, char address, const std::string& body, int64_t atUs) {
  net.receive(makeFrame(address, body), atUs);
  std::string out;
  for (auto& o : net.takeOutput(atUs + 100 * kMs)) out += o.bytes;
  return out;
}

// Flags and field of a status reply from `address`, "" unless its frame is STX, address, "?",
// seven characters, block check (XOR of STX..field as 48 + high nibble, 48 + low nibble), ETX.
std::string payloadOf(const std::string& reply, char address) {
  unsigned x = 0;
  for (size_t i = 0; i + 3 < reply.size(); ++i) x ^= static_cast<unsigned char>(reply[i]);
  std::string tail{static_cast<char>(48 + (x >> 4)), static_cast<char>(48 + (x & 15)), kEtx};
  bool ok = reply.size() == 13 && reply.substr(0, 3) == std::string{kStx, address, '?'};
  return ok && reply.substr(10) == tail ? reply.substr(3, 7) : "";
}

std::string status(int bits, const std::string& field) {
  return static_cast<char>(0x40 | bits) + field;
}

TEST(ScaleModel, StatusFlagsAndWeightThroughTareGrossZeroAndCalibrations) {
  EXPECT_EQ(makeFrame('A', "?0"), std::string("\x02\x41\x3F\x30\x34\x3C\x03"));
  ScaleNetwork net(quiet());
  const int S = kStableBit, N = kNetBit, M = kMarkBit;
  // A load (negative: left as it is), 2 s later a command, then the status once the scale has
  // worked on it. Zero calibration zeroes the load, the keyed span reads the load after zero and
  // scales later loads; a tared scale calibrates to gross. 50 kg cells: span 1 again; the empty
  // signal (0.2712 mV/V) drops the zero offset, 0.0100 mV/V more is 1 kg; one decimal: P3.
  const std::tuple<double, const char*, int, const char*> steps[] = {
      {12.34, "", S, "012.34"},       {10, "T", S | N, "000.00"},   {15.5, "", S | N, "005.50"},
      {15.5, "G", S, "015.50"},       {15.5, "Z", S | M, "000.00"}, {3, "a", S | M, "000.00"},
      {5, "T", S | N, "000.00"},      {15, "", S | N, "010.00"},    {-1, "b01500", S, "015.00"},
      {26.17, "b02500", S, "025.00"}, {14.585, "", S, "012.50"},    {3, "B05000", S | M, "000.00"},
      {-1, "A002712", S, "003.00"},   {-1, "A002812", S, "002.00"}, {-1, "B02500", S, "001.00"},
      {-1, "P3100000", S, "0001.0"},  {9, "b00300", S, "0030.0"},   {5, "", S, "0015.0"}};
  int64_t t = 0;
  for (auto [load, command, flags, field] : steps) {
    if (load >= 0) net.setLoad('A', load, t);
    t += 2000 * kMs;
    if (*command) {
      EXPECT_EQ(ask(net, 'A', command, t), makeFrame('A', "\x06")) << command;
    }
    t += net.workingTextUs + 10 * kMs;
    EXPECT_EQ(payloadOf(ask(net, 'A', "?0", t), 'A'), status(flags, field)) << command;
  }
}

TEST(ScaleModel, SplitJoinedAndCorruptFramesAmidGarbageAreEchoedAndTheGoodOnesAnswered) {
  ScaleNetwork net(quiet(true));
  std::string a = makeFrame('A', "?0"), b = makeFrame('B', "?0"), bad = a;
  bad[3] = '9';
  std::string first = "\x03junk" + a.substr(0, 3), second = a.substr(3) + "\xff" + bad + b;
  net.receive(first, 0);
  net.receive(second, 1 * kMs);
  std::vector<LineOutput> out = net.takeOutput(50 * kMs);
  ASSERT_EQ(out.size(), 4u);  // the corrupt frame goes unanswered
  EXPECT_EQ(out[0].bytes + out[1].bytes, first + second);
  EXPECT_NE(payloadOf(out[2].bytes, 'A'), "");
  EXPECT_NE(payloadOf(out[3].bytes, 'B'), "");
}

// The babbling-scale end-to-end test is only as good as this. The other faults (silence, cut,
// noise, double at a rate) and the line's pacing serve hand-run sessions; no test takes them.
TEST(ScaleModel, AStreamingScaleFillsTheLineAndNeverSendsAnEtx) {
  ScaleNetwork net(quiet(false, "stream:B"));
  std::string out = ask(net, 'Z', "?0", 1000 * kMs);  // all the line carried in 1.1 s
  EXPECT_GE(out.size(), 200'000u);
  EXPECT_EQ(out.find(kEtx), std::string::npos);
}

TEST(ScaleSetup, ReadsEveryScaleOptionRefusesMalformedValuesAndKeepsTheSetUpForTheWholeRun) {
  NetworkOptions o;
  // Each option with the values it takes and those it refuses, which leave nothing behind.
  // clang-format off
  const std::tuple<const char*, std::vector<const char*>, std::vector<const char*>> options[] = {
      {"--text", {"E=ΖΥΓΟΣ"}, {"E", "@=X", "_=X", "E=", "E=a\x03"}},
      {"--load", {"D=12.5", "^=-1.5"}, {"D=1.5kg"}},
      {"--tare", {"D=2.5"}, {"D=nan"}},
      {"--pin", {"H=012345"}, {"H=12345", "H=1234567", "H=12345a"}},
      {"--cal-lock", {"G"}, {"", "G=1"}},
      {"--swing", {"B"}, {"BB"}},
      {"--corners", {"B=9"}, {"B=0", "B=10", "B=x"}},
      {"--skip-corner", {"B=1"}, {"B=0", "B=12"}},
      {"--cal-error", {"G=90", "H=91"}, {"B=92", "B=9"}},
      {"--rate", {"K=19200", "K=600/8N1"}, {"K=9600/8X1", "K=12", "K=96OO"}},
      {"--reply-delay", {"B=80"}, {"B=-1", "B=60001", "B=80ms"}},
      {"--reply", {"B:p1=short"}, {"B:p1", "B:p1=late", "B:p9=none", "B:?0=none"}},
      {"--weight", {}, {"D=1"}}};
  // clang-format on
  std::string error;
  for (const auto& [option, taken, refused] : options) {
    for (const char* value : taken)
      EXPECT_TRUE(parseScaleSetup(option, value, &o, &error)) << option << " " << value;
    for (const char* value : refused) {
      error.clear();
      EXPECT_FALSE(parseScaleSetup(option, value, &o, &error)) << option << " " << value;
      EXPECT_NE(error, "") << option << " " << value;
    }
  }
  auto& s = o.setups;
  EXPECT_EQ(std::tie(s['E'].text, s['H'].pin), std::tie("\xC6\xD5\xC3\xCF\xD3", "012345"));
  EXPECT_EQ(std::tuple(s['D'].load, s['D'].tare, s['^'].load, s['B'].corners, s['B'].skipCorner),
            std::tuple(12.5, 2.5, -1.5, 9, 1));
  EXPECT_EQ(std::tuple(s['G'].calError, s['H'].calError, s['G'].calLock, s['B'].replyDelayUs),
            std::tuple(90, 91, true, 80 * kMs));
  EXPECT_EQ(std::tuple(s['B'].swing, s['G'].swing, s['B'].replies.at("p1")),
            std::tuple(true, false, ReplyFault::kShort));
  EXPECT_EQ(std::tuple(s.size(), s['K'].baud, s['K'].format),
            std::tuple(7u, 600, std::string("8N1")));
}

std::string text(const std::vector<LineOutput>& out) {
  std::string all;
  for (const LineOutput& o : out) all += o.bytes;
  return all;
}

TEST(ScaleModel, JitterSpreadsDelaysOverTheirRangeAndRepeatsPerSeed) {
  NetworkOptions o = quiet();
  o.replyJitterUs = 10 * kMs;
  o.setups['A'].replyDelayUs = 80 * kMs;  // a scale's own delay takes the jitter too
  // A's reply delays, asked every 100 ms without a bit rate.
  auto delays = [](const NetworkOptions& o) {
    ScaleNetwork net(o);
    std::vector<int64_t> d;
    for (int64_t t = 0; t < 20'000 * kMs; t += 100 * kMs) {
      net.receive(makeFrame('A', "?0"), t);
      for (auto& r : net.takeOutput(t + 99 * kMs)) d.push_back(r.atUs - t);
    }
    return d;
  };
  const std::vector<int64_t> d = delays(o);
  ASSERT_EQ(d.size(), 200u);
  auto [lo, hi] = std::minmax_element(d.begin(), d.end());
  EXPECT_EQ(std::tuple(*lo >= 80 * kMs, *hi <= 90 * kMs, *hi - *lo > 9 * kMs),
            std::tuple(true, true, true));
  EXPECT_EQ(delays(o), d);
}

TEST(ScaleModel, ALateReplyKeepsItsTimeOthersFitAroundItAndBurstsComeOnlyWhenComplete) {
  // B answers 80 ms after its request at 0; A, asked at 50 ms, answers before it; C, asked at
  // 75 ms, would overlap it and follows it. With the echo: 7, 7, 13, 7, 13 and 13 characters.
  auto run = [](size_t burst) {
    NetworkOptions o = quiet(true);
    o.addresses = {'A', 'B', 'C'};
    o.baud = 9600;  // a character every 1042 us
    o.burst = static_cast<int>(burst);
    o.setups['B'].replyDelayUs = 80 * kMs;
    ScaleNetwork net(o);
    for (auto [address, atUs] : {std::pair{'B', int64_t{0}}, {'A', 50 * kMs}, {'C', 75 * kMs}})
      net.receive(makeFrame(address, "?0"), atUs);
    return net.takeOutput(1000 * kMs);
  };
  const int64_t kChar = 1042;
  const std::vector<LineOutput> line = run(0);
  const std::string idle = "?" + status(kStableBit | kMarkBit, "000.00");
  auto request = [](char s) { return makeFrame(s, "?0"); };
  ASSERT_EQ(line.size(), 60u);
  EXPECT_EQ(text(line), request('B') + request('A') + makeFrame('A', idle) + request('C') +
                            makeFrame('B', idle) + makeFrame('C', idle));
  // The replies' first characters: A 2 ms after its request, B 80 ms after, C right after B.
  EXPECT_EQ(std::tuple(line[14].atUs, line[34].atUs, line[47].atUs),
            std::tuple(52 * kMs + 8 * kChar, 80 * kMs + 8 * kChar, 80 * kMs + 21 * kChar));
  // In bursts the same characters, at most n of one output at a time, each group at its last
  // character's own time: at 16 every reply in one piece.
  for (auto [n, groups] : {std::pair{4u, 18u}, {16u, 6u}}) {
    const std::vector<LineOutput> out = run(n);
    EXPECT_EQ(std::pair(out.size(), text(out)), std::pair(size_t{groups}, text(line)));
    size_t done = 0;
    for (const LineOutput& o : out) {
      done += o.bytes.size();
      ASSERT_LE(done, line.size());
      EXPECT_LE(o.bytes.size(), n);
      EXPECT_EQ(o.atUs, line[done - 1].atUs) << n;
    }
  }
}

// The tally reads frames as the PC does: noise or the echo before a reply leave it timely, an STX
// inside a reply cut short does not start one.
TEST(ReplyTally, AReplyIsAFrameFromItsStxToTheNextEtx) {
  const std::string request = makeFrame('A', "?0"), reply = makeFrame('A', "?0 12.50");
  const std::pair<std::string, int> cases[] = {{reply, 1},
                                               {"x\x7f" + reply, 1},
                                               {request + reply, 1},
                                               {"\x02" + reply, 0},
                                               {makeFrame('B', "?0 1.00") + reply, 1},
                                               {request, 0}};
  for (const auto& [line, timely] : cases) {
    const ReplyTally t = tallyReplies({{0, true, request}, {5, false, line}, {20, true, request}});
    EXPECT_EQ(t.timely, timely) << testing::PrintToString(line);
  }
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each kind of the table is taken by its name, and the usage text, the README and the manual
// page tell of it; a name the table does not have is refused with the kinds it has.
TEST(FaultKinds, EveryKindIsTakenByItsNameAndTheUsageReadmeAndManualPageListIt) {
  const std::string readme = fileText(TRV4_SOURCE_DIR "/tools/scalesim/README.md");
  const std::string manual = fileText(TRV4_SOURCE_DIR "/docs/man/trv4-scalesim.1");
  ASSERT_FALSE(readme.empty() || manual.empty());
  for (const FaultKindInfo& k : kFaultKinds) {
    SCOPED_TRACE(k.name);
    std::string error;
    const std::optional<Fault> fault = parseFault(std::string(k.name) + ":B@0.5", &error);
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->kind, k.kind);
    EXPECT_NE(faultUsage().find(std::string(k.name) + " "), std::string::npos);
    EXPECT_NE(readme.find("`" + std::string(k.name) + "`"), std::string::npos);
    EXPECT_NE(manual.find(".B " + std::string(k.name)), std::string::npos);
  }
  std::string error;
  EXPECT_FALSE(parseFault("hum:A", &error));
  EXPECT_EQ(error, "unknown fault \"hum\" (" + faultKindNames() + ")");
}

}  // namespace
}  // namespace trv4::scalesim
