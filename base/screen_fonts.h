// The fonts the screens are drawn with. Each asks for the Windows face first, then its metric
// twin on Linux (Liberation), then a common fallback, so the screens keep their proportions.
#pragma once

#include <QFont>
#include <QStringList>

namespace trv4 {

enum class Face { SansSerif, Arial, Serif };

inline QFont screenFont(Face face, double points, bool bold, bool italic = false) {
  QFont font;
  switch (face) {
    case Face::SansSerif:
      font.setFamilies({"MS Sans Serif", "Liberation Sans", "DejaVu Sans"});
      font.setStyleHint(QFont::SansSerif);
      break;
    case Face::Arial:
      font.setFamilies({"Arial", "Liberation Sans", "DejaVu Sans"});
      font.setStyleHint(QFont::SansSerif);
      break;
    case Face::Serif:
      font.setFamilies({"Times New Roman", "Liberation Serif", "DejaVu Serif"});
      font.setStyleHint(QFont::Serif);
      break;
  }
  font.setPointSizeF(points);
  font.setBold(bold);
  font.setItalic(italic);
  return font;
}

}  // namespace trv4
