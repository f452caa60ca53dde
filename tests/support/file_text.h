// What a test reads back from a file the program wrote.
#pragma once

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

}  // namespace trv4::test
