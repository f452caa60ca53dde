// The toolkit of the headless gateway: the shared Qt timers and clock; what the windows would
// show in a box goes to standard error (the journal under systemd) as a line of UTF-8, and
// nobody is there to answer a question, so every question is answered No and every input box
// Cancel.
#pragma once

#include <cstdio>
#include <string>

#include "base/unattended_toolkit.h"

namespace trv4 {

class ConsoleToolkit : public UnattendedToolkit {
 public:
  // out: where messages go, stderr in the gateway.
  explicit ConsoleToolkit(std::FILE* out = stderr) : out_(out) {}

  // Tells one line, "trv4-gateway: " and the text with its line ends turned into blanks.
  void messageBox(const std::string& text) override;

 private:
  std::FILE* out_;
};

}  // namespace trv4
