#include "service/calib_record.h"

#include <deque>

#include "base/file_names.h"
#include "service/csv_line.h"

namespace trv4 {

namespace {

constexpr long kReadLimit = 4L << 20;

}  // namespace

std::string calibRecordLine(const CalibRecordEntry& e) {
  std::vector<std::string> fields = {e.date,         e.time,       std::string(1, e.address),
                                     e.procedure,    e.keyed,      e.outcome,
                                     e.weightBefore, e.weightAfter};
  // A control character would break the line: it is written as "?".
  for (std::string& field : fields) {
    for (char& c : field) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F) c = '?';
    }
  }
  return csvLine(fields);
}

CalibRecord::CalibRecord(Toolkit& toolkit, std::string path)
    : toolkit_(toolkit), path_(std::move(path)) {}

CalibRecord::~CalibRecord() {
  closeFile();
}

void CalibRecord::closeFile() {
  sync_.reset();
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool CalibRecord::stillAtPath() const {
  return isFileAt(file_, path_);
}

void CalibRecord::append(const CalibRecordEntry& entry) {
  // A file moved or deleted since the last line would take the line out of sight.
  if (file_ != nullptr && !stillAtPath()) closeFile();
  if (file_ == nullptr) {
    file_ = openFile(path_, "ab");
    if (file_ != nullptr) sync_ = std::make_unique<DiskSync>(fileno(file_));
  }
  bool ok = file_ != nullptr;
  if (ok) {
    const std::string text = calibRecordLine(entry) + "\r\n";
    ok = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
    ok = std::fflush(file_) == 0 && ok && !sync_->failed();
    if (ok) sync_->request();
  }
  if (ok) {
    failureTold_ = false;
    return;
  }
  closeFile();
  if (!failureTold_) toolkit_.messageBox(kCalibRecordWriteError);
  failureTold_ = true;
}

std::vector<std::vector<std::string>> readCalibRecord(const std::string& path,
                                                      std::size_t maxLines) {
  std::vector<std::vector<std::string>> rows;
  std::FILE* file = openFile(path, "rb");
  if (file == nullptr) return rows;
  bool partialFirst = false;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    partialFirst = size > kReadLimit;
    std::fseek(file, partialFirst ? size - kReadLimit : 0, SEEK_SET);
  }
  std::string text(static_cast<std::size_t>(kReadLimit), '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);

  std::deque<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A read that began inside the file starts inside a line: that piece is no entry.
    if (!partialFirst && !line.empty()) {
      lines.push_back(std::move(line));
      if (lines.size() > maxLines) lines.pop_front();
    }
    partialFirst = false;
    start = end + 1;
  }
  for (const std::string& line : lines) rows.push_back(csvFields(line));
  return rows;
}

}  // namespace trv4
