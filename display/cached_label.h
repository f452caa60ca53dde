// A label of plain text, without a buddy or text interaction, that lays out and draws its text
// only when what it shows changed: a repaint with the same text, colour, state and size draws
// the picture kept from an earlier one. The monitor repaints its address letters at every scan
// step (the highlight moves) and its weights at every reply; laying the same text out again each
// time was a quarter of the program's work while polling. Two pictures are kept, so a label
// switching between two looks (highlighted or not) draws from the cache both ways. It stays a
// QLabel for everything else: its text, its accessible name and description, its geometry.
// A label that fills its background draws its whole box: nothing under it is painted first.
#pragma once

#include <QLabel>
#include <QPixmap>

#include <array>

namespace trv4 {

class CachedLabel : public QLabel {
 public:
  using QLabel::QLabel;

  // How many repaints drew from the cache and how many laid the text out.
  int cacheHits() const { return hits_; }
  int layouts() const { return layouts_; }
  // Off: every repaint lays the text out as a plain label does (to compare the two).
  void setCaching(bool on);
  // Drawn in the palette's link colour instead of its text colour. Unlike a new foreground role,
  // this sends no palette change through the widget, which at every scan step was costly.
  void setHighlighted(bool on);

 protected:
  void paintEvent(QPaintEvent* event) override;
  // A new font, style or palette can change any picture: they are all dropped. The highlight is
  // no palette change, so it keeps them.
  void changeEvent(QEvent* event) override;

 private:
  // What a picture depends on besides what the label is set up with once.
  struct Look {
    QString text;
    QRgb colour = 0;  // of the text, as the palette gives it for the label's state
    QSize size;
    qreal ratio = 0;
    bool operator==(const Look&) const = default;
  };
  struct Picture {
    Look look;
    QPixmap pixmap;
  };

  QPalette::ColorRole textRole() const { return highlighted_ ? QPalette::Link : foregroundRole(); }
  QPalette::ColorGroup colourGroup() const;
  // Uncached and highlighted, the plain label is given the link colour as its foreground role.
  void lendRole(QPalette::ColorRole role);
  Look currentLook() const;
  // Draws the ground, the frame and the text into a picture of the label's size.
  void draw(QPixmap& pixmap);
  // The ground and the frame, which only a new size, state or palette changes.
  const QPixmap& ground(const Look& look);

  std::array<Picture, 2> pictures_;
  int newest_ = 0;
  struct Ground {
    QSize size;
    qreal ratio = 0;
    QPalette::ColorGroup group = QPalette::Active;
    QPixmap pixmap;
  } ground_;
  bool caching_ = true;
  bool highlighted_ = false;
  QPalette::ColorRole plainRole_ = QPalette::WindowText;  // lent away while uncached
  bool lendingRole_ = false;
  int hits_ = 0;
  int layouts_ = 0;
};

}  // namespace trv4
