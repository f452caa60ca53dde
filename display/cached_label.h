// A label of plain text, without a buddy or text interaction, that lays out and draws its text
// only when what it shows changed: a repaint with the same text, colour, state and size draws
// the picture kept from an earlier one. The monitor repaints its address letters at every scan
// step (the highlight moves) and its weights at every reply; laying the same text out again each
// time was a quarter of the program's work while polling. Two pictures are kept, so a label
// switching between two looks (highlighted or not) draws from the cache both ways. It stays a
// QLabel for everything else: its text, its accessible name and description, its geometry.
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
  void setCaching(bool on) { caching_ = on; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  // A new font or style can change any picture: they are all dropped. A palette change needs
  // no drop, as the colours drawn are part of what a picture is kept for.
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

  Look currentLook() const;
  // Draws the frame and the text into a picture of the label's size.
  void draw(QPixmap& pixmap);

  std::array<Picture, 2> pictures_;
  int newest_ = 0;
  bool caching_ = true;
  int hits_ = 0;
  int layouts_ = 0;
};

}  // namespace trv4
