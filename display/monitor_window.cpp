#include "display/monitor_window.h"

#include <QEvent>
#include <QPalette>

#include "base/screen_fonts.h"
#include "base/twip_rect.h"
#include "base/value_label.h"
#include "base/widget_text.h"
#include "display/cached_label.h"

namespace trv4 {

namespace {

// Client area and panel geometry, in twips.
constexpr int kClientWidth = 9450;
constexpr int kClientHeight = 7335;
constexpr int kColumns = 3;
constexpr int kCellWidth = 3000;
constexpr int kCellHeight = 720;

const QColor kPolledColour(0, 0, 192);

// Named as the screen's control arrays are: "WDisp(4)" is the weight display of scale "E". The
// panels repaint at every scan step: their labels draw what did not change from a cache.
// rect is in the window's pixels, origin is where the label's parent lies in them.
CachedLabel* makeLabel(QWidget* parent, const QPoint& origin, const char* array, int index,
                       const QRect& rect, const QFont& font, Qt::Alignment align) {
  auto* label = new CachedLabel(parent);
  label->setObjectName(QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(index));
  label->setGeometry(rect.translated(-origin));
  label->setFont(font);
  label->setAlignment(align);
  label->setTextFormat(Qt::PlainText);  // texts from the line are never markup
  return label;
}

}  // namespace

MonitorWindow::MonitorWindow(MonitorModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("Monitor"));
  setWindowTitle(QStringLiteral("Monitor"));
  resize(sizeHint());
  // Opaque, so a label's repaint stops here instead of repainting the frame around the window.
  setAutoFillBackground(true);

  for (int i = 0; i < kMaxScales; ++i) {
    const int x = kCellWidth * (i % kColumns);
    const int y = kCellHeight * (i / kColumns);
    Panel& p = panels_[i];
    // Each panel's labels lie in a box of their own, so that a repaint looks through four
    // labels and thirty boxes instead of all 120 labels of the window.
    const QRect addressRect = twipRect(x + 120, y + 120, 375, 375);
    const QRect weightRect = twipRect(x + 480, y + 120, 2415, 615);
    const QRect netRect = twipRect(x + 480, y + 120, 375, 255);
    const QRect motionRect = twipRect(x + 600, y + 360, 135, 255);
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("Panel(%1)").arg(i));
    box->setGeometry(addressRect | weightRect | netRect | motionRect);

    p.address = makeLabel(box, box->pos(), "ScaleAddr", i, addressRect,
                          screenFont(Face::SansSerif, 13.5, true), Qt::AlignCenter);
    const QString letter = fromCodePage(std::string(1, scaleAddress(i)));
    p.address->setText(letter);
    // The polled scale's letter is drawn in the palette's link colour: far cheaper than a new
    // palette at every scan step. A disabled label stays greyed. The letter fills its box with
    // the window's ground, so that the window need not be painted under it at every step.
    QPalette addressColours = p.address->palette();
    addressColours.setColor(QPalette::Active, QPalette::Link, kPolledColour);
    addressColours.setColor(QPalette::Inactive, QPalette::Link, kPolledColour);
    addressColours.setColor(QPalette::Disabled, QPalette::Link,
                            addressColours.color(QPalette::Disabled, QPalette::WindowText));
    addressColours.setColor(QPalette::Disabled, QPalette::Window,
                            addressColours.color(QPalette::Active, QPalette::Window));
    p.address->setPalette(addressColours);
    p.address->setAutoFillBackground(true);

    p.weight = makeLabel(box, box->pos(), "WDisp", i, weightRect, screenFont(Face::Serif, 24, true),
                         Qt::AlignRight | Qt::AlignVCenter);
    p.weight->setAutoFillBackground(true);
    QPalette white = p.weight->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    p.weight->setPalette(white);
    p.weight->setFrameStyle(QFrame::Box | QFrame::Plain);
    p.weight->setLineWidth(1);
    p.weight->installEventFilter(this);
    describeValue(p.weight, QStringLiteral("Weight of scale %1").arg(letter));

    // Lying over the weight display, they are its children: a new weight then repaints that one
    // opaque label with what lies on it, instead of the window down through its panel. A double
    // click on them stays theirs, as when they lay beside it.
    p.net = makeLabel(p.weight, weightRect.topLeft(), "NetLbl", i, netRect,
                      screenFont(Face::SansSerif, 8.25, true), Qt::AlignCenter);
    p.net->setAttribute(Qt::WA_NoMousePropagation);
    p.net->setText("Net");
    describeValue(p.net, QStringLiteral("Net indicator of scale %1").arg(letter));
    p.motion = makeLabel(p.weight, weightRect.topLeft(), "MotLbl", i, motionRect,
                         screenFont(Face::SansSerif, 8.25, true), Qt::AlignCenter);
    p.motion->setAttribute(Qt::WA_NoMousePropagation);
    describeValue(p.motion, QStringLiteral("Motion indicator of scale %1").arg(letter));

    refresh(i);
  }

  model_.onPanelChanged = [this](int i) {
    if (i >= 0 && i < kMaxScales) refresh(i);
  };
}

MonitorWindow::~MonitorWindow() {
  model_.onPanelChanged = nullptr;
  // Closing the window unloads it: the next use loads it again with empty panels.
  model_.unload();
}

QSize MonitorWindow::sizeHint() const {
  return QSize(twips(kClientWidth), twips(kClientHeight));
}

bool MonitorWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    for (int i = 0; i < kMaxScales; ++i) {
      if (watched == panels_[i].weight) {
        model_.toggleScan(i);
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MonitorWindow::refresh(int i) {
  const MonitorPanel& state = model_.panel(i);
  Panel& p = panels_[i];
  // Only what changed is touched: every scan step moves the highlight and every reply rewrites
  // a panel, and each label change costs a repaint.
  const MonitorPanel* shown = p.shown ? &*p.shown : nullptr;

  if (!shown || shown->addressEnabled != state.addressEnabled) {
    p.address->setEnabled(state.addressEnabled);
    // Greyed tells the eye; the description tells assistive technology.
    describeValue(p.address,
                  QStringLiteral("Address of scale %1, %2")
                      .arg(p.address->text(), state.addressEnabled ? QStringLiteral("polled")
                                                                   : QStringLiteral("not polled")));
  }
  if (!shown || shown->addressHighlighted != state.addressHighlighted) {
    p.address->setHighlighted(state.addressHighlighted);
  }
  if (!shown || shown->view.text != state.view.text) {
    showValue(p.weight, displayText(state.view.text));
  }
  if (!shown || shown->view.motionText != state.view.motionText) {
    showValue(p.motion, displayText(state.view.motionText));
  }
  p.net->setVisible(state.view.netVisible);
  p.motion->setVisible(state.view.motionVisible);
  p.shown = state;
}

}  // namespace trv4
