// The two pictures of the calibration window's buttons, drawn at 32 x 32: a finger pressing a
// key (go on) and a red octagonal stop sign (stop waiting).
#pragma once

#include <QPixmap>

namespace trv4 {

QPixmap pressKeyPicture();
QPixmap stopSignPicture();

}  // namespace trv4
