#include "base/whole_file.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace trv4 {

bool writeWholeFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fflush(file) == 0 && ok;
#if defined(__unix__) || defined(__APPLE__)
  ok = ok && ::fsync(fileno(file)) == 0;
#endif
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::remove(path.c_str());
  return ok;
}

bool renameOver(const std::string& from, const std::string& to) {
  std::error_code error;
  std::filesystem::rename(from, to, error);
  return !error;
}

bool replaceWholeFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  if (!writeWholeFile(temporary, text)) return false;
  if (renameOver(temporary, path)) return true;
  std::remove(temporary.c_str());
  return false;
}

}  // namespace trv4
