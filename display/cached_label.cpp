#include "display/cached_label.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace trv4 {

void CachedLabel::setCaching(bool on) {
  if (on == caching_) return;
  caching_ = on;
  // Uncached, the plain label draws, in its foreground role: a highlight is lent to it as that.
  if (highlighted_) {
    if (!on) plainRole_ = foregroundRole();
    lendRole(on ? plainRole_ : QPalette::Link);
  }
  setAttribute(Qt::WA_OpaquePaintEvent, false);  // set again at the next cached repaint
  update();
}

void CachedLabel::setHighlighted(bool on) {
  if (on == highlighted_) return;
  highlighted_ = on;
  if (!caching_) {
    if (on) plainRole_ = foregroundRole();
    lendRole(on ? QPalette::Link : plainRole_);
  }
  update();
}

void CachedLabel::lendRole(QPalette::ColorRole role) {
  lendingRole_ = true;  // the palette change it sends keeps the pictures
  setForegroundRole(role);
  lendingRole_ = false;
}

QPalette::ColorGroup CachedLabel::colourGroup() const {
  return !isEnabled()       ? QPalette::Disabled
         : isActiveWindow() ? QPalette::Active
                            : QPalette::Inactive;
}

CachedLabel::Look CachedLabel::currentLook() const {
  Look look;
  look.text = text();
  look.colour = palette().color(colourGroup(), textRole()).rgba();
  look.size = size();
  look.ratio = devicePixelRatioF();
  return look;
}

void CachedLabel::paintEvent(QPaintEvent* event) {
  if (!caching_) {
    QLabel::paintEvent(event);
    return;
  }
  // A label that fills its ground covers its box with its pictures: the background Qt would
  // paint first, and the widgets under it, need no painting.
  if (autoFillBackground() != testAttribute(Qt::WA_OpaquePaintEvent)) {
    setAttribute(Qt::WA_OpaquePaintEvent, autoFillBackground());
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
    picture.pixmap = ground(look);
    draw(picture.pixmap);
  }
  newest_ = found;
  QPainter painter(this);
  painter.drawPixmap(0, 0, pictures_[found].pixmap);
}

const QPixmap& CachedLabel::ground(const Look& look) {
  const QPalette::ColorGroup group = colourGroup();
  if (!ground_.pixmap.isNull() && ground_.size == look.size && ground_.ratio == look.ratio &&
      ground_.group == group) {
    return ground_.pixmap;
  }
  ground_ = {look.size, look.ratio, group, QPixmap(look.size * look.ratio)};
  ground_.pixmap.setDevicePixelRatio(look.ratio);
  // A label that fills its background is drawn on it, so its text is smoothed as on the screen;
  // one that lets its parent show through keeps a transparent ground.
  ground_.pixmap.fill(autoFillBackground() ? palette().color(backgroundRole())
                                           : QColor(Qt::transparent));
  QPainter painter(&ground_.pixmap);
  drawFrame(&painter);
  return ground_.pixmap;
}

void CachedLabel::draw(QPixmap& pixmap) {
  QPainter painter(&pixmap);
  // What a painter on the widget itself would start with.
  painter.setFont(font());
  painter.setLayoutDirection(layoutDirection());
  painter.setPen(palette().color(textRole()));
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
                        textRole());
}

void CachedLabel::changeEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::PaletteChange:
      if (lendingRole_) break;
      for (Picture& picture : pictures_) picture.pixmap = QPixmap();
      ground_.pixmap = QPixmap();
      break;
    default:
      break;
  }
  QLabel::changeEvent(event);
}

}  // namespace trv4
