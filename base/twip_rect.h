// A widget rectangle given in twips, as the screens are laid out, and a widget put in its place.
#pragma once

#include <QRect>
#include <QString>

#include "base/twips.h"

namespace trv4 {

inline QRect twipRect(int x, int y, int width, int height) {
  return QRect(twips(x), twips(y), twips(width), twips(height));
}

// Gives the widget its object name (the name tests and UI automation find it by) and its place.
template <typename W>
W* placed(W* widget, const QString& name, const QRect& rect) {
  widget->setObjectName(name);
  widget->setGeometry(rect);
  return widget;
}

}  // namespace trv4
