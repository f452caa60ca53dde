// A widget rectangle given in twips, as the screens are laid out.
#pragma once

#include <QRect>

#include "base/twips.h"

namespace trv4 {

inline QRect twipRect(int x, int y, int width, int height) {
  return QRect(twips(x), twips(y), twips(width), twips(height));
}

}  // namespace trv4
