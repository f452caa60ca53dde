// The calibration record as the disk gives it back, and entries with whatever the scale and the
// operator put in them: the record window reads each line's fields as they were written.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "fuzz/require.h"
#include "fuzz/scratch_file.h"
#include "service/calib_record.h"
#include "service/csv_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trv4;
  static const fuzz::ScratchFile file(kCalibRecordFileName);
  FuzzedDataProvider in(data, size);

  CalibRecordEntry e;
  e.date = in.ConsumeRandomLengthString(12);
  e.time = in.ConsumeRandomLengthString(12);
  e.address = in.ConsumeIntegral<char>();
  e.procedure = in.ConsumeRandomLengthString(40);
  e.keyed = in.ConsumeRandomLengthString(40);
  e.outcome = in.ConsumeRandomLengthString(40);
  e.weightBefore = in.ConsumeRandomLengthString(16);
  e.weightAfter = in.ConsumeRandomLengthString(16);
  const std::size_t maxLines = in.ConsumeIntegralInRange<std::size_t>(1, 8);
  const std::string tail = in.ConsumeRemainingBytesAsString();

  const std::string line = calibRecordLine(e);
  fuzz::require(line.find_first_of("\r\n") == std::string::npos, "calib record",
                "an entry's line holds a line break");
  std::vector<std::string> fields = {e.date,         e.time,       std::string(1, e.address),
                                     e.procedure,    e.keyed,      e.outcome,
                                     e.weightBefore, e.weightAfter};
  for (std::string& f : fields)
    for (char& c : f)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  fuzz::require(csvFields(line) == fields, "calib record", "an entry reads back otherwise");

  // Whatever stands in the file before it, the entry appended last is the last row read.
  const auto rows = readCalibRecord(file.write(tail + "\r\n" + line + "\r\n"), maxLines);
  fuzz::require(!rows.empty() && rows.size() <= maxLines, "calib record",
                "more rows than asked for, or none");
  fuzz::require(rows.back() == fields, "calib record", "the last entry reads back otherwise");
  return 0;
}
