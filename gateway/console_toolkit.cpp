#include "gateway/console_toolkit.h"

#include "base/codepage.h"

namespace trv4 {

void ConsoleToolkit::messageBox(const std::string& text) {
  // The journal keeps one entry per line: a message of several lines stays one entry.
  std::string line = codePageToUtf8(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(out_, "trv4-gateway: %s\n", line.c_str());
  std::fflush(out_);
}

}  // namespace trv4
