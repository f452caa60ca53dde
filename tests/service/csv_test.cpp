// Comma-separated files as an operator's spreadsheet reads them: the link statistics and the
// calibration record, whose fields hold what scales and operators typed (commas, quotes, line
// ends, Greek), and the record's reading limits.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "base/file_names.h"
#include "base/whole_file.h"
#include "service/calib_record.h"
#include "service/csv_line.h"
#include "tests/support/file_text.h"

namespace trv4 {
namespace {

using Fields = std::vector<std::string>;

// Written: the line csvLine makes of the fields; read: what csvFields reads of the line, as a
// spreadsheet does also of hand-written lines.
TEST(CsvLine, QuotesOnlyFieldsWithSeparatorsQuotesOrLineEndsAndReadsLinesAsSpreadsheetsDo) {
  EXPECT_EQ(csvLine({}), "");
  // clang-format off
  const std::tuple<Fields, std::string, bool> lines[] = {
      {{""}, "", true},
      {{"A", "12.50 kg", ""}, "A,12.50 kg,", true},
      {{"", "", ""}, ",,", true},
      {{"1,5"}, "\"1,5\"", true},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\"", true},
      {{"\""}, "\"\"\"\"", true},
      {{"a\r\nb", "c\rd", "e\nf"}, "\"a\r\nb\",\"c\rd\",\"e\nf\"", true},
      {{" blanks kept ", "\t"}, " blanks kept ,\t", true},
      {{"\xC6\xD5\xC3\xCF\xD3", "Ζυγός"}, "\xC6\xD5\xC3\xCF\xD3,Ζυγός", true},
      {{"=1+2", "'", ";"}, "=1+2,',;", true},
      {{"a", "", "b"}, "a,,b", true},
      {{"a", ""}, "a,", true},
      {{"", ""}, ",", true},
      {{"", ""}, "\"\",\"\"", false},
      {{"a,b", "c"}, "\"a,b\",c", true},
      {{"x\"y", "\""}, "\"x\"\"y\",\"\"\"\"", true},
      {{"open, never closed"}, "\"open, never closed", false},
      {{"a", "cut after a quote\""}, "a,\"cut after a quote\"\"", false},
      {{"1", "2\r\n3", "4"}, "1,\"2\r\n3\",4", true},
  };
  // clang-format on
  for (const auto& [fields, line, written] : lines) {
    EXPECT_EQ(csvFields(line), fields) << line;
    if (written) {
      EXPECT_EQ(csvLine(fields), line);
    }
  }
}

TEST(CalibRecord, ALineHoldsEveryFieldWholeWithControlCharactersShownAsQuestionMarks) {
  CalibRecordEntry e;
  e.date = "06.12.2026";
  e.time = "14:03:59\r\n";
  e.address = '^';
  e.procedure = "Weight Span Calibration";
  e.keyed = "00012 00034";
  e.outcome = "Calibration Lock, \"ERR 91\"";
  e.weightBefore = "-Off Range";
  e.weightAfter = "\xC6\xD5\xC3\x7F\x01";
  const std::string line = calibRecordLine(e);
  EXPECT_EQ(line,
            "06.12.2026,14:03:59??,^,Weight Span Calibration,00012 00034,"
            "\"Calibration Lock, \"\"ERR 91\"\"\",-Off Range,\xC6\xD5\xC3??");
  const Fields fields = csvFields(line);
  ASSERT_EQ(fields.size(), static_cast<size_t>(kCalibRecordColumnCount));
  EXPECT_EQ(fields[5], "Calibration Lock, \"ERR 91\"");
}

TEST(CalibRecord, ReadsTheLastLinesOfAnyFileWithinItsLimits) {
  const test::ScratchFolder scratch("trv4-csv-");
  const std::string path = scratch.file(kCalibRecordFileName);
  EXPECT_TRUE(readCalibRecord(path).empty());  // no file yet

  // Line ends of either kind, blank lines left out, a last line without its end.
  ASSERT_TRUE(writeWholeFile(path, "a,1\r\n\r\nb,2\n\nc,\"3,4\"\r\nd,5"));
  EXPECT_EQ(readCalibRecord(path),
            (std::vector<Fields>{{"a", "1"}, {"b", "2"}, {"c", "3,4"}, {"d", "5"}}));
  EXPECT_EQ(readCalibRecord(path, 2), (std::vector<Fields>{{"c", "3,4"}, {"d", "5"}}));
  EXPECT_EQ(readCalibRecord(path, 1), (std::vector<Fields>{{"d", "5"}}));

  // Only the last 4 MiB are read: a file of exactly that size is read whole; one byte more and
  // the line the read begins inside is no entry.
  const size_t limit = size_t{4} << 20;
  const std::string tail = "y,2\r\nz,3\r\n";
  const std::string first = "x," + std::string(limit - tail.size() - 4, '1') + "\r\n";
  ASSERT_EQ(first.size() + tail.size(), limit);
  ASSERT_TRUE(writeWholeFile(path, first + tail));
  std::vector<Fields> rows = readCalibRecord(path);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], "x");
  EXPECT_EQ(rows[0][1].size(), limit - tail.size() - 4);
  ASSERT_TRUE(writeWholeFile(path, "w" + first + tail));
  EXPECT_EQ(readCalibRecord(path), (std::vector<Fields>{{"y", "2"}, {"z", "3"}}));
}

}  // namespace
}  // namespace trv4
