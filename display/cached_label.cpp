#include "display/cached_label.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace trv4 {

CachedLabel::Look CachedLabel::currentLook() const {
  Look look;
  look.text = text();
  const QPalette::ColorGroup group = !isEnabled()       ? QPalette::Disabled
                                     : isActiveWindow() ? QPalette::Active
                                                        : QPalette::Inactive;
  look.colour = palette().color(group, foregroundRole()).rgba();
  look.size = size();
  look.ratio = devicePixelRatioF();
  return look;
}

void CachedLabel::paintEvent(QPaintEvent* event) {
  if (!caching_) {
    QLabel::paintEvent(event);
    return;
  }
  const Look look = currentLook();
  int found = -1;
  for (int i = 0; i < static_cast<int>(pictures_.size()); ++i) {
    if (!pictures_[i].pixmap.isNull() && pictures_[i].look == look) found = i;
  }
  if (found >= 0) {
    ++hits_;
  } else {
    ++layouts_;
    // The older picture makes way for one drawn now.
    found = 1 - newest_;
    Picture& picture = pictures_[found];
    picture.look = look;
    picture.pixmap = QPixmap(look.size * look.ratio);
    picture.pixmap.setDevicePixelRatio(look.ratio);
    draw(picture.pixmap);
  }
  newest_ = found;
  QPainter painter(this);
  painter.drawPixmap(0, 0, pictures_[found].pixmap);
}

void CachedLabel::draw(QPixmap& pixmap) {
  // A label that fills its background is drawn on it, so its text is smoothed as on the screen;
  // one that lets its parent show through keeps a transparent ground.
  pixmap.fill(autoFillBackground() ? palette().color(backgroundRole()) : QColor(Qt::transparent));
  QPainter painter(&pixmap);
  // What a painter on the widget itself would start with.
  painter.setFont(font());
  painter.setLayoutDirection(layoutDirection());
  painter.setPen(palette().color(foregroundRole()));
  drawFrame(&painter);
  // A plain text drawn where and how a QLabel draws it: inside the frame and the margin, moved
  // in from the aligned sides by the indent (half an "x" when none is set and there is a frame).
  const Qt::LayoutDirection direction = text().isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
  const int align = QStyle::visualAlignment(direction, alignment());
  QRectF area = contentsRect();
  area.adjust(margin(), margin(), -margin(), -margin());
  int m = indent();
  if (m < 0 && frameWidth()) m = fontMetrics().horizontalAdvance(u'x') / 2 - margin();
  if (m > 0) {
    if (align & Qt::AlignLeft) area.setLeft(area.left() + m);
    if (align & Qt::AlignRight) area.setRight(area.right() - m);
    if (align & Qt::AlignTop) area.setTop(area.top() + m);
    if (align & Qt::AlignBottom) area.setBottom(area.bottom() - m);
  }
  const int flags =
      align | (direction == Qt::LeftToRight ? Qt::TextForceLeftToRight : Qt::TextForceRightToLeft);
  QStyleOption option;
  option.initFrom(this);
  style()->drawItemText(&painter, area.toAlignedRect(), flags, option.palette, isEnabled(), text(),
                        foregroundRole());
}

void CachedLabel::changeEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::LayoutDirectionChange:
      for (Picture& picture : pictures_) picture.pixmap = QPixmap();
      break;
    default:
      break;
  }
  QLabel::changeEvent(event);
}

}  // namespace trv4
