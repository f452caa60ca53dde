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

// A text from the line as a label shows it. Control characters would break the label into
// lines or vanish; each one shows as the replacement character.
inline QString displayText(const std::string& bytes) {
  QString text = fromCodePage(bytes);
  for (QChar& c : text) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QChar(0xFFFD);
  }
  return text;
}

}  // namespace trv4
