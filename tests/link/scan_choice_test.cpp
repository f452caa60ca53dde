// The scan step's choice of the next scale, and which scales the cycle serves, without timers.
#include "link/scan_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace trv4::test {
namespace {

// The next scale of a scan step, as "index" or "-index" when nothing is sent.
std::string next(const char* marked, int scanIndex, const char* queued, int alone = -1,
                 int count = 30) {
  LinkState st;
  st.ScanList.fill(0);
  for (const char* c = marked; *c; ++c) st.ScanList[*c - 'A'] = 1;
  for (const char* c = queued; *c; ++c) st.CommandQueue[*c - 'A'] = "Z";
  st.ScaleCount = count;
  st.ScanIndex = scanIndex;
  const ScanChoice choice = chooseNextScale(st, alone);
  return (choice.found ? "" : "-") + std::to_string(choice.scanIndex);
}

TEST(ScanChoice, CommandsFirstThenTheNextMarkedScale) {
  EXPECT_EQ(next("ABC", 0, ""), "1");
  EXPECT_EQ(next("ABC", 2, ""), "0");         // round past the last marked
  EXPECT_EQ(next("ABC", 29, ""), "0");        // the first step
  EXPECT_EQ(next("ABC", 0, "C"), "2");        // C's command before B's poll
  EXPECT_EQ(next("ABC", 0, "A"), "1");        // the scale served last waits a step
  EXPECT_EQ(next("A", 0, "A"), "0");          // unless it is the only one
  EXPECT_EQ(next("A", 0, "K"), "0");          // a command for a scale not marked waits
  EXPECT_EQ(next("", 5, ""), "-6");           // none marked: nothing sent
  EXPECT_EQ(next("BE", 0, "", 2), "2");       // single-scale mode: that one
  EXPECT_EQ(next("^", 28, ""), "29");         // the thirtieth address
  EXPECT_EQ(next("AH", 6, "", -1, 8), "7");   // the last of eight
  EXPECT_EQ(next("AJ", 7, "", -1, 8), "0");   // J is past the scale count
  EXPECT_EQ(next("AJ", 7, "J", -1, 8), "0");  // and so is its command
}

TEST(ScanChoice, ServedNowFollowsTheMarksTheCountAndSingleScaleMode) {
  LinkState st;  // A-H marked, 30 scales
  EXPECT_TRUE(servedNow(st, 7, -1));
  EXPECT_FALSE(servedNow(st, 8, -1));
  EXPECT_TRUE(servedNow(st, 12, 12));  // alone: only it
  EXPECT_FALSE(servedNow(st, 0, 12));
  st.ScaleCount = 4;
  EXPECT_FALSE(servedNow(st, 5, -1));
  EXPECT_FALSE(servedNow(st, -1, -1));
}

}  // namespace
}  // namespace trv4::test
