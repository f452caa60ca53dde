// File names between widgets and the core: the system's bytes on Linux, UTF-8 on Windows (whose
// 8-bit names are in the ANSI code page, which holds few of the names an operator may type).
#pragma once

#include <QFile>
#include <QString>
#include <string>

namespace trv4 {

inline std::string fileNameFromWidget(const QString& name) {
#ifdef _WIN32
  return name.toStdString();
#else
  return QFile::encodeName(name).toStdString();
#endif
}

inline QString fileNameForWidget(const std::string& name) {
#ifdef _WIN32
  return QString::fromStdString(name);
#else
  return QFile::decodeName(QByteArray::fromStdString(name));
#endif
}

}  // namespace trv4
