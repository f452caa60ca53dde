#include <gtest/gtest.h>

#include "link/command_queue.h"
#include "link/frame.h"
#include "link/transliterate.h"

namespace trv4 {
namespace {

TEST(FrameBcc, ExclusiveOrOfAllCharactersAsTwoNibbleCharacters) {
  EXPECT_EQ(FrameBcc("\x02"
                     "A?0"),
            "4<");
  EXPECT_EQ(FrameBcc("\x02"
                     "AZ"),
            "19");
  EXPECT_EQ(FrameBcc(""), "00");
  EXPECT_EQ(FrameBcc(std::string(1, '\xff')), "??");  // 8-bit codes count as unsigned
  EXPECT_EQ(FrameBcc(std::string("\x02\xa5\x00", 3)), ":7");
}

TEST(TransliterateGreek, MovesWindowsGreekLettersToDisplayPositions) {
  const struct {
    int in, out;
  } table[] = {
      {193, 128}, {209, 144}, {210, 210}, {211, 145}, {217, 151}, {218, 218}, {220, 220},
      {223, 223}, {224, 224}, {225, 152}, {242, 169}, {243, 170}, {248, 175}, {249, 224},
      {250, 250}, {254, 254}, {255, 255}, {192, 192}, {0, 0},     {2, 2},     {65, 65},
  };
  for (const auto& row : table) {
    const std::string in(1, static_cast<char>(row.in));
    const std::string out = TransliterateGreek(in);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), row.out) << "code " << row.in;
  }
}

TEST(TransliterateGreek, KeepsLengthAndLeavesAsciiAlone) {
  const std::string ascii(
      "\x02"
      "A?0 Z\x06\x10 ok\0x",
      13);
  EXPECT_EQ(TransliterateGreek(ascii), ascii);
  EXPECT_EQ(TransliterateGreek("\x02"
                               "B\xc1\xe1\xf9!"),
            "\x02"
            "B\x80\x98\xe0!");
}

TEST(QueueCommand, SelectionChoosesTheMailbox) {
  const struct {
    const char* selection;
    int slot;  // -1: nothing queued
  } table[] = {{"A", 0}, {"B", 1},   {"^", 29}, {"@", kBroadcastSlot}, {"_", -1}, {"?", -1},
               {"", -1}, {"AB", -1}, {"a", -1}};
  for (const auto& row : table) {
    LinkState state;
    QueueCommand(state, row.selection, "Z");
    for (int i = 0; i < kMailboxCount; ++i) {
      EXPECT_EQ(state.CommandQueue[i], i == row.slot ? "Z" : "")
          << "selection \"" << row.selection << "\" slot " << i;
    }
  }
}

TEST(QueueCommand, LaterCommandReplacesOneNotYetSent) {
  LinkState state;
  QueueCommand(state, "C", kAckCommand);
  QueueCommand(state, "C", kResetCommand);
  EXPECT_EQ(state.CommandQueue[2], "R");
  EXPECT_EQ(kAckCommand, "\x06");
  EXPECT_EQ(kSyncCommand, "\x10");
}

}  // namespace
}  // namespace trv4
