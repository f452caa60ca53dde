// Scratch folders for the files the program writes in a test, and what the test reads back.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/file_names.h"

namespace trv4::test {

// The whole file, byte for byte; empty when it cannot be read. The name is UTF-8.
inline std::string fileText(const std::string& name) {
  std::ifstream in(filePath(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A fresh folder under the system's temporary folder, named for this process, removed with all
// it holds at the end.
struct ScratchFolder {
  explicit ScratchFolder(const std::string& name)
      : folder(std::filesystem::temp_directory_path() / (name + std::to_string(getpid()))) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  ~ScratchFolder() { std::filesystem::remove_all(folder); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // A file's name in the folder, as UTF-8.
  std::string file(const std::string& name) const { return fileNameText(folder / name); }

  const std::filesystem::path folder;
};

}  // namespace trv4::test
