// The program's icon: five small computer terminals joined by blue lines, a network of scales.
#pragma once

#include <QIcon>

namespace trv4 {

// Drawn in code at 16, 32, 48, 64 and 128 pixels; the 32-pixel picture is the design size.
QIcon appIcon();

}  // namespace trv4
