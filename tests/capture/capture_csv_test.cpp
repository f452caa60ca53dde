// Export CSV: every capture, oldest first, page by page, quoted as spreadsheets read fields.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "capture/capture_csv.h"
#include "service/csv_line.h"
#include "tests/support/desk_on_monitor.h"

namespace trv4::test {
namespace {

TEST(CaptureCsvTest, EveryCaptureOldestFirstWithItsFieldsQuotedWhereNeeded) {
  DeskOnMonitor rig;
  for (uint64_t s = 1; s <= 2500; ++s) {
    rig.journal.rows.push_back({s, static_cast<int>(s % kMaxScales), "-0.05 kg", -5, 2, "kg",
                                s == 2, 1796565839123, s == 2 ? "line 2, \"west\"" : "operator",
                                s == 1});
  }

  std::optional<std::string> read;
  readCapturesCsv(rig.desk, [&](std::string text) { read = std::move(text); });
  EXPECT_FALSE(read) << "read later, never within the call";
  rig.tk.runUntil([&] { return read.has_value(); }, 1000);
  ASSERT_TRUE(read);
  const std::string& csv = *read;
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = csv.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(csv.substr(at, end - at));
  ASSERT_EQ(lines.size(), 2501u) << "a head line and every capture, each ended by CR LF";
  EXPECT_EQ(lines[0], "sequence,time (UTC),scale,text,weight,unit,net,requested by,delivered");
  EXPECT_EQ(lines[1], "1,2026-12-06T14:03:59.123Z,B,-0.05 kg,-0.05,kg,gross,operator,yes");
  EXPECT_EQ(lines[2],
            "2,2026-12-06T14:03:59.123Z,C,-0.05 kg,-0.05,kg,net,\"line 2, \"\"west\"\"\",no");
  EXPECT_EQ(csvFields(lines[2500])[0], "2500");
}

}  // namespace
}  // namespace trv4::test
