// Conversion between the program's 8-bit Windows-1253 text and the Unicode text that widgets
// show and take. The core keeps bytes; only widgets convert.
#pragma once

#include <string>

#include <QString>

namespace trv4 {

// Bytes the code page leaves undefined become U+FFFD.
QString fromCodePage(const std::string& bytes);

// Characters the code page cannot hold become "?", one per character.
std::string toCodePage(const QString& text);

}  // namespace trv4
