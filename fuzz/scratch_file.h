// A file of the fuzz program's own in the temporary folder, written whole for each input, for
// the readers that take a path.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace trv4::fuzz {

class ScratchFile {
 public:
  explicit ScratchFile(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/trv4-fuzz-" +
            std::to_string(getpid()) + "-" + name;
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // The file now holds exactly text.
  const std::string& write(std::string_view text) const {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() ||
        std::fclose(f) != 0) {
      std::perror(path_.c_str());
      std::abort();
    }
    return path_;
  }

 private:
  std::string path_;
};

}  // namespace trv4::fuzz
