// Comma-separated files as an operator's spreadsheet reads them: fields that hold what scales and
// operators typed (commas, quotes, line ends, Greek), and the calibration record's reading limits.
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

// Written by csvLine; read by csvFields as a spreadsheet reads lines, hand-written ones too.
TEST(CsvLine, QuotesOnlyFieldsWithSeparatorsQuotesOrLineEndsAndReadsLinesAsSpreadsheetsDo) {
  EXPECT_EQ(csvLine({}), "");
  // clang-format off
  const std::tuple<Fields, std::string, bool> lines[] = {
      {{""}, "", true},
      {{"A", "12.50 kg", ""}, "A,12.50 kg,", true},
      {{"1,5", "c"}, "\"1,5\",c", true},
      {{"say \"hi\"", "\""}, "\"say \"\"hi\"\"\",\"\"\"\"", true},
      {{"a\r\nb", "c\rd", "e\nf"}, "\"a\r\nb\",\"c\rd\",\"e\nf\"", true},
      {{" blanks kept ", "\t"}, " blanks kept ,\t", true},
      {{"\xC6\xD5\xC3\xCF\xD3", "Ζυγός"}, "\xC6\xD5\xC3\xCF\xD3,Ζυγός", true},
      {{"=1+2", "'", ";"}, "=1+2,',;", true},
      {{"", ""}, "\"\",\"\"", false},
      {{"open, never closed"}, "\"open, never closed", false},
      {{"a", "cut after a quote\""}, "a,\"cut after a quote\"\"", false},
  };
  // clang-format on
  for (const auto& [fields, line, written] : lines) {
    EXPECT_EQ(csvFields(line), fields) << line;
    EXPECT_EQ(written ? csvLine(fields) : line, line);
  }
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

  // Only the last 4 MiB are read: a file of exactly that size is read whole; one byte more and
  // the line the read begins inside is no entry.
  const size_t limit = size_t{4} << 20;
  const std::string tail = "y,2\r\nz,3\r\n";
  const std::string first = "x," + std::string(limit - tail.size() - 4, '1') + "\r\n";
  ASSERT_EQ(first.size() + tail.size(), limit);
  ASSERT_TRUE(writeWholeFile(path, first + tail));
  EXPECT_EQ(
      readCalibRecord(path),
      (std::vector<Fields>{{"x", first.substr(2, first.size() - 4)}, {"y", "2"}, {"z", "3"}}));
  ASSERT_TRUE(writeWholeFile(path, "w" + first + tail));
  EXPECT_EQ(readCalibRecord(path), (std::vector<Fields>{{"y", "2"}, {"z", "3"}}));
}

}  // namespace
}  // namespace trv4
