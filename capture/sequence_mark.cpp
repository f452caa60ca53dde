#include "capture/sequence_mark.h"

#include <charconv>
#include <fstream>

#include "base/blank_trim.h"
#include "base/file_names.h"
#include "base/file_sync.h"
#include "base/whole_file.h"

namespace trv4 {

std::optional<uint64_t> readSequenceMark(const std::string& path) {
  std::ifstream in(filePath(path), std::ios::binary);
  if (!in) return std::nullopt;
  char buf[32] = {};
  in.read(buf, sizeof buf - 1);
  const std::string text =
      trimBlanks(std::string_view(buf, static_cast<std::size_t>(in.gcount())), " \t\r\n");
  uint64_t mark = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), mark);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return mark;
}

bool writeSequenceMark(const std::string& path, uint64_t mark) {
  if (!replaceWholeFile(path, std::to_string(mark) + "\n")) return false;
  syncFolderOf(path);
  return true;
}

}  // namespace trv4
