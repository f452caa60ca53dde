// Windows-1253 bytes of the core as the Unicode text widgets show and take.
#pragma once

#include <QString>
#include <string>

#include "base/codepage.h"

namespace trv4 {

inline QString fromCodePage(const std::string& bytes) {
  return QString::fromStdString(codePageToUtf8(bytes));
}

inline std::string toCodePage(const QString& text) {
  return utf8ToCodePage(text.toStdString());
}

}  // namespace trv4
