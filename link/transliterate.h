// Moves the Greek letters of a request from Windows Greek positions to the positions the
// scales' displays use. Every other byte passes unchanged; the result has the same length.
#pragma once

#include <string>

namespace trv4 {

std::string TransliterateGreek(const std::string& text);

}  // namespace trv4
