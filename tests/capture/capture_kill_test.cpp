// The journal killed in the middle of a run of captures: capture_writer takes captures and prints
// each number once it is committed; SIGKILL stops it at a different point in each round. Every
// number printed is in the journal afterwards, and no number is used twice.
#include <signal.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "capture/sqlite_journal.h"
#include "tests/support/virtual_toolkit.h"
#include "tools/scalesim/sim_session.h"

namespace trv4::test {
namespace {

using scalesim::Process;
using scalesim::readFile;
using scalesim::TempDir;
using scalesim::waitFor;

// The numbers on whole lines of the writer's output; anything else it said goes to `other`.
std::vector<uint64_t> printedNumbers(const std::string& out, std::string* other) {
  std::vector<uint64_t> numbers;
  std::size_t at = 0;
  for (std::size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = out.substr(at, end - at);
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
      numbers.push_back(std::stoull(line));
    else
      *other += line + "\n";
  }
  return numbers;
}

TEST(CaptureKillTest, KilledWhileCapturingItLosesNoCommittedCaptureAndReusesNoNumber) {
  TempDir dir;
  std::set<uint64_t> told;
  uint64_t highest = 0;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string out = dir.file("writer" + std::to_string(round) + ".out");
    Process writer(CAPTURE_WRITER, {dir.path()}, dir.path(), {},
                   "writer" + std::to_string(round) + ".out");
    const std::size_t want = 10 + 23 * static_cast<std::size_t>(round);
    std::string other;
    ASSERT_TRUE(
        waitFor([&] { return printedNumbers(readFile(out), &other).size() >= want; }, 60000));
    ASSERT_TRUE(writer.stop(SIGKILL, 10000));
    other.clear();
    for (const uint64_t n : printedNumbers(readFile(out), &other)) {
      EXPECT_GT(n, highest) << "a number used again, or out of order";
      highest = n;
      told.insert(n);
    }
    EXPECT_EQ(other, "") << "the writer said more than numbers";
  }

  VirtualToolkit tk;
  SqliteJournal journal(tk, dir.file(kCaptureJournalFileName));
  EXPECT_TRUE(tk.messages.empty()) << tk.messages.front();
  std::set<uint64_t> stored;
  uint64_t previous = 0;
  for (const Capture& c : journal.after(0, 1000000)) {
    EXPECT_GT(c.sequence, previous);
    previous = c.sequence;
    stored.insert(c.sequence);
  }
  for (const uint64_t n : told) EXPECT_TRUE(stored.contains(n)) << "capture " << n << " was lost";
  // At most the one each kill caught between its commit and its line is stored untold.
  EXPECT_LE(stored.size(), told.size() + 4);
}

}  // namespace
}  // namespace trv4::test
