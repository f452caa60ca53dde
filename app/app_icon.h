// The program's icon: five small computer terminals joined by blue lines, a network of scales.
#pragma once

#include <QIcon>

class QPainter;

namespace trv4 {

// Drawn in code at 16, 32, 48, 64 and 128 pixels; the 32-pixel picture is the design size.
QIcon appIcon();

// Paints the icon into the square from (0, 0) to (size, size) on whatever the painter paints
// on. appIcon() draws its pictures with it, and the package build writes the icon files for the
// desktop with it (tools/icon_export), so every place shows the same drawing.
void paintAppIcon(QPainter& painter, qreal size);

}  // namespace trv4
