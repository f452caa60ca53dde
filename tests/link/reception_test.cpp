// Reception without timers: how the link splits what came from the line, given what it asked,
// into pieces it files or drops, and what stays for the next receive event.
#include "link/reception.h"

#include <gtest/gtest.h>

#include "tests/support/link_fixture.h"

namespace trv4::test {
namespace {

// "kind@scale" for each piece, "=filed" where something is filed, then "|" and what is left.
std::string split(const std::string& rx, const ExchangeView& asked) {
  const char* names[] = {"status", "reply", "echo", "wrong", "dropped", "noise"};
  std::string out;
  std::size_t taken = 0;
  for (const RxPiece& p : splitReceived(rx, asked)) {
    out += std::string(names[static_cast<int>(p.kind)]) + "@" + std::to_string(p.scale);
    if (!p.filed.empty()) out += "=" + p.filed;
    out += " ";
    taken += static_cast<std::size_t>(p.length);
  }
  return out + "|" + rx.substr(taken);
}

TEST(Reception, PiecesOfWhatCameAfterAStatusRequest) {
  const std::string S(1, STX), E(1, ETX);
  const std::string asked = makeFrame('A', "?0"), reply = makeFrame('A', "?0 12.50");
  const std::string second = makeFrame('A', "?1 99.99"), fromB = makeFrame('B', "?0 99.99");
  const std::string noEtx = std::string("\x00\xfe\x7f", 3) + S;
  const ExchangeView a{asked, 0, "A", 8};
  const struct {
    const char* name;
    std::string rx;
    std::string expected;
  } table[] = {
      {"ETX before STX, rest kept", E + S + "A?0", "dropped@0 |" + S + "A?0"},
      {"the tail of an earlier frame, then the reply", "9.99BB" + E + reply,
       "dropped@0 status@0=0 12.50 |"},
      {"a frame too short, then the reply", S + "A?1" + E + reply, "dropped@0 status@0=0 12.50 |"},
      {"3 characters in STX..ETX", S + "AB1" + E, "dropped@0 |"},
      {"4 characters: a command reply", S + "AB12" + E, "reply@0=" + S + "AB12" + E + " |"},
      {"status payload of 2: dropped", S + "A?12BB" + E, "dropped@0 |"},
      {"status payload of 3", S + "A?123BB" + E, "status@0=123 |"},
      {"text before STX, third is ?", "zz?" + S + "A?0  1.25XX" + E, "status@0=0  1.25 |"},
      {"text before STX: a command reply, all of it filed", "zzz" + S + "A?0  1.25XX" + E,
       "reply@0=zzz" + S + "A?0  1.25XX" + E + " |"},
      {"two frames: the second waits", reply + second, "status@0=0 12.50 |" + second},
      {"the echo, then the reply", asked + reply, "echo@0 status@0=0 12.50 |"},
      {"noise without ETX waits", noEtx, "|" + noEtx},
      {"another scale's, then A's", fromB + reply, "wrong@0 status@0=0 12.50 |"},
      {"an echo, another's, then text without ETX", asked + fromB + "xy", "echo@0 wrong@0 |xy"},
  };
  for (const auto& row : table) EXPECT_EQ(split(row.rx, a), row.expected) << row.name;
}

TEST(Reception, WhoseReplyAFrameIsAfterABroadcastOrANewAddress) {
  const std::string broadcast = makeFrame('@', "R");
  const ExchangeView toAll{broadcast, 3, "", 8};
  EXPECT_EQ(split(makeFrame('C', "\x06"), toAll), "reply@2=" + makeFrame('C', "\x06") + " |");
  EXPECT_EQ(split(makeFrame('H', "?0 1.000"), toAll), "status@7=0 1.000 |");  // the last of 8
  EXPECT_EQ(split(makeFrame('I', "\x06"), toAll), "wrong@3 |");  // past the scale count
  EXPECT_EQ(split(broadcast, toAll), "echo@3 |");
  // "S2" and "C" sent to A: an answer under C is A's.
  const ExchangeView renamed{makeFrame('A', "S2C"), 0, "AC", 8};
  EXPECT_EQ(split(makeFrame('C', "\x06"), renamed), "reply@0=" + makeFrame('C', "\x06") + " |");
  EXPECT_EQ(split(makeFrame('B', "\x06"), renamed), "wrong@0 |");
}

}  // namespace
}  // namespace trv4::test
