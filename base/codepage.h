// Conversion between the program's 8-bit Windows-1253 text and UTF-8, the text of widgets and of
// file names on Linux. The core keeps bytes; it converts only where text leaves or enters it.
#pragma once

#include <string>
#include <string_view>

namespace trv4 {

// Bytes the code page leaves undefined become U+FFFD.
std::string codePageToUtf8(std::string_view bytes);

// Characters the code page cannot hold (and malformed UTF-8) become "?", one per character.
std::string utf8ToCodePage(std::string_view utf8);

}  // namespace trv4
