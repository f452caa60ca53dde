// The calibration record: one line in TRV4CAL.LOG for every calibration procedure that started,
// written as it ends, flushed and then synced to the disk like the weight log's lines.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/disk_sync.h"
#include "base/toolkit.h"
#include "calib/calibration.h"

namespace trv4 {

inline constexpr const char* kCalibRecordFileName = "TRV4CAL.LOG";
inline constexpr const char* kCalibRecordWriteError = "CAN NOT WRITE CALIBRATION RECORD";
// Columns of a line, in order.
inline constexpr const char* kCalibRecordColumns[] = {
    "Date", "Time", "Scale", "Procedure", "Keyed", "Outcome", "Weight before", "Weight after"};
inline constexpr int kCalibRecordColumnCount = 8;

class CalibRecord {
 public:
  explicit CalibRecord(Toolkit& toolkit, std::string path = kCalibRecordFileName);
  ~CalibRecord();
  CalibRecord(const CalibRecord&) = delete;
  CalibRecord& operator=(const CalibRecord&) = delete;

  // Appends the entry's line. A failed write is told once, until a line is written again; the
  // next entry tries the file afresh.
  void append(const CalibRecordEntry& entry);
  const std::string& path() const { return path_; }

 private:
  void closeFile();
  // The open file is still the one the path names.
  bool stillAtPath() const;

  Toolkit& toolkit_;
  std::string path_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<DiskSync> sync_;
  bool failureTold_ = false;
};

// The entry as one line of the file, without its line end: comma-separated fields, control
// characters written as "?".
std::string calibRecordLine(const CalibRecordEntry& entry);

// The lines of a record file, each split into its fields, at most the last maxLines of them and
// of its last 4 MiB; empty when the file cannot be read.
std::vector<std::vector<std::string>> readCalibRecord(const std::string& path,
                                                      std::size_t maxLines = 10000);

}  // namespace trv4
