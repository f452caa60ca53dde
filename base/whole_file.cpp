#include "base/whole_file.h"

#include <cstdio>

#include "base/file_names.h"
#include "base/file_sync.h"

#ifdef _WIN32
#include "base/windows_errno.h"
#endif

namespace trv4 {

bool writeWholeFile(const std::string& path, const std::string& text) {
  std::FILE* file = openFile(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fflush(file) == 0 && ok;
  ok = ok && syncFile(fileno(file));
  ok = std::fclose(file) == 0 && ok;
  if (!ok) removeFile(path);
  return ok;
}

bool renameOver(const std::string& from, const std::string& to) {
#ifdef _WIN32
  // Windows renames over an existing file only when told to; the rename itself reaches the disk
  // before the call returns.
  const std::wstring source = filePath(from).native();
  const std::wstring target = filePath(to).native();
  if (MoveFileExW(source.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  errno = errnoOfLastError();
  return false;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool replaceWholeFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  if (!writeWholeFile(temporary, text)) return false;
  if (renameOver(temporary, path)) return true;
  removeFile(temporary);
  return false;
}

}  // namespace trv4
