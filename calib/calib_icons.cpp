#include "calib/calib_icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace trv4 {

namespace {

constexpr int kSize = 32;

QPixmap blank() {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

}  // namespace

QPixmap pressKeyPicture() {
  QPixmap pixmap = blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);

  // The key: a grey cap on a darker base, seen slightly from above.
  p.setPen(QPen(QColor(64, 64, 64), 1));
  p.setBrush(QColor(128, 128, 128));
  p.drawRoundedRect(QRectF(3.5, 19.5, 25, 10), 2, 2);
  p.setBrush(QColor(216, 216, 216));
  p.drawRoundedRect(QRectF(6.5, 20.5, 19, 6), 1.5, 1.5);

  // The finger coming down from the top right onto the cap, its nail towards the viewer.
  QPainterPath finger;
  finger.moveTo(27, 1);
  finger.lineTo(19.5, 14);
  finger.quadTo(16, 20.5, 12.5, 19);
  finger.quadTo(9.5, 17, 12, 12.5);
  finger.lineTo(19, 0.5);
  finger.closeSubpath();
  p.setPen(QPen(QColor(120, 72, 40), 1));
  p.setBrush(QColor(240, 188, 150));
  p.drawPath(finger);
  p.setPen(QPen(QColor(190, 130, 100), 0.8));
  p.setBrush(QColor(252, 226, 214));
  p.drawEllipse(QPointF(14.2, 16.3), 2.2, 1.6);

  // Short strokes beside the tip: the key is being pressed.
  p.setPen(QPen(QColor(0, 0, 192), 1.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(6, 14), QPointF(9, 16));
  p.drawLine(QPointF(4.5, 18), QPointF(8.5, 18.5));
  p.drawLine(QPointF(21, 19), QPointF(24.5, 16.5));
  return pixmap;
}

QPixmap stopSignPicture() {
  QPixmap pixmap = blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);

  // A regular octagon with flat top and bottom, a white rim inside a dark outline.
  auto octagon = [](double radius) {
    QPolygonF shape;
    for (int k = 0; k < 8; ++k) {
      const double angle = (22.5 + 45.0 * k) * M_PI / 180.0;
      shape << QPointF(16 + radius * std::cos(angle), 16 + radius * std::sin(angle));
    }
    return shape;
  };
  p.setPen(QPen(QColor(96, 0, 0), 1));
  p.setBrush(Qt::white);
  p.drawPolygon(octagon(15.5));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(208, 0, 0));
  p.drawPolygon(octagon(13.5));

  QFont font;
  font.setFamilies({"Liberation Sans", "DejaVu Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(9);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, 0, kSize, kSize), Qt::AlignCenter, QStringLiteral("STOP"));
  return pixmap;
}

}  // namespace trv4
