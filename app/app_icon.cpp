#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace trv4 {

namespace {

// One terminal, its top-left corner at (x, y) on the 32 x 32 grid, 8 wide and 8 high: a monitor
// with a blue-green screen above a keyboard.
void drawTerminal(QPainter& painter, QPointF at) {
  const qreal x = at.x();
  const qreal y = at.y();
  painter.setPen(QPen(Qt::black, 0.6));
  painter.setBrush(QColor(200, 200, 200));
  painter.drawRect(QRectF(x, y, 8, 5.5));  // case
  painter.setBrush(QColor(0, 128, 128));
  painter.drawRect(QRectF(x + 1.2, y + 1.2, 5.6, 3.1));  // screen
  painter.setBrush(QColor(160, 160, 160));
  painter.drawRect(QRectF(x + 0.5, y + 6.3, 7, 1.5));  // keyboard
}

QPixmap drawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  paintAppIcon(painter, size);
  return pixmap;
}

}  // namespace

void paintAppIcon(QPainter& painter, qreal size) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);

  // Five terminals around a hub, each joined to it by a blue line.
  const QPointF terminals[] = {{12, 0.5}, {0.5, 10}, {23.5, 10}, {4, 23.5}, {20, 23.5}};
  const QPointF hub(16, 17);
  const QColor blue(0, 0, 255);
  painter.setPen(QPen(blue, 1.5, Qt::SolidLine, Qt::RoundCap));
  for (const QPointF& t : terminals) painter.drawLine(hub, t + QPointF(4, 4));
  painter.setBrush(blue);
  painter.drawEllipse(hub, 1.5, 1.5);
  for (const QPointF& t : terminals) drawTerminal(painter, t);
  painter.restore();
}

QIcon appIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128}) icon.addPixmap(drawIcon(size));
  return icon;
}

}  // namespace trv4
