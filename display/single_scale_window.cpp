#include "display/single_scale_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/screen_fonts.h"
#include "base/twip_rect.h"
#include "base/value_label.h"
#include "base/widget_text.h"

namespace trv4 {

namespace {

const QColor kLightYellow(255, 255, 192);

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, const QRect& rect) {
  auto* label = placed(new QLabel(caption, parent), name, rect);
  label->setTextFormat(Qt::PlainText);  // texts from the line are never markup
  return label;
}

void paintBackground(QLabel* label, const QColor& colour) {
  label->setAutoFillBackground(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, colour);
  palette.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(palette);
}

}  // namespace

OneUnitWindow::OneUnitWindow(OneUnit& model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      model_(model) {
  setObjectName(QStringLiteral("OneUnit"));
  setWindowTitle(QStringLiteral("TRV-4 Indicator"));
  setFixedSize(twips(2805), twips(1875));

  auto* stepCaption = makeLabel(this, "Label2", QStringLiteral("Step:"), twipRect(0, 0, 495, 255));
  step_ = placed(new QComboBox(this), QStringLiteral("StepCombo"), twipRect(600, 0, 735, 315));
  // A typed step is read as a number like the listed ones; it never joins the list.
  step_->setEditable(true);
  step_->setInsertPolicy(QComboBox::NoInsert);
  step_->lineEdit()->setMaxLength(5);
  stepCaption->setBuddy(step_);

  auto* addressCaption =
      makeLabel(this, "Label1", QStringLiteral("TRV4:"), twipRect(1440, 0, 555, 240));
  addressCaption->setFont(screenFont(Face::SansSerif, 9.75, false));
  // Only the listed addresses can be chosen: the scan cycle and the commands rely on it.
  address_ =
      placed(new QComboBox(this), QStringLiteral("SingleScale"), twipRect(2040, 0, 735, 315));
  address_->setEditable(false);
  address_->setMaxVisibleItems(31);
  addressCaption->setBuddy(address_);

  for (const std::string& entry : stepEntries()) step_->addItem(fromCodePage(entry));
  for (const std::string& entry : singleScaleEntries()) address_->addItem(fromCodePage(entry));
  step_->setCurrentText(fromCodePage(model_.settings().StepCombo));
  address_->setCurrentText(fromCodePage(model_.settings().SingleScale));

  weight_ = makeLabel(this, "LDisp", QString(), twipRect(0, 360, 2775, 615));
  weight_->setFont(screenFont(Face::Serif, 24, true));
  weight_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  weight_->setFrameStyle(QFrame::Box | QFrame::Plain);
  weight_->setLineWidth(1);
  paintBackground(weight_, kLightYellow);
  describeValue(weight_, QStringLiteral("Weight of the selected scale"));

  // Created after the weight display, so they lie over it.
  const QFont small = screenFont(Face::SansSerif, 8.25, true);
  net_ = makeLabel(this, "NetLbl", QStringLiteral("Net"), twipRect(0, 360, 375, 255));
  net_->setFont(small);
  net_->setAlignment(Qt::AlignCenter);
  motion_ = makeLabel(this, "MotLbl", QStringLiteral("M"), twipRect(120, 720, 135, 255));
  motion_->setFont(small);
  motion_->setAlignment(Qt::AlignCenter);
  describeValue(net_, QStringLiteral("Net indicator of the selected scale"));
  describeValue(motion_, QStringLiteral("Motion indicator of the selected scale"));

  auto addButton = [&](const char* name, const char* caption, int left, auto onClick) {
    auto* button = placed(new QPushButton(QString::fromLatin1(caption), this), name,
                          twipRect(left, 1080, 615, 375));
    button->setFont(small);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, onClick);
  };
  addButton("Command2", ">0<", 0, [this] { model_.Command2_Click(); });
  addButton("Command4", ">T<", 720, [this] { model_.Command4_Click(); });
  addButton("Command3", ">G<", 1440, [this] { model_.Command3_Click(); });
  addButton("Command1", "kg/lb", 2160, [this] { model_.Command1_Click(); });

  logging_ = makeLabel(this, "MsgLbl", QStringLiteral("Logging ..."), twipRect(0, 1560, 2775, 255));
  paintBackground(logging_, kLightYellow);
  describeValue(logging_, QStringLiteral("Weight log"));

  connect(step_, &QComboBox::currentTextChanged, this,
          [this](const QString& text) { model_.setStep(toCodePage(text)); });
  connect(address_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
    if (!model_.selectScale(toCodePage(text))) {
      address_->setCurrentText(fromCodePage(model_.settings().SingleScale));
    }
  });

  model_.onChanged = [this] { refresh(); };
  refresh();
}

OneUnitWindow::~OneUnitWindow() {
  model_.onChanged = nullptr;
}

void OneUnitWindow::closeEvent(QCloseEvent* event) {
  // The rest of the program reads this window's selection and step: it stays open.
  event->ignore();
}

void OneUnitWindow::refresh() {
  const OneUnitView& view = model_.view();
  const OneUnitView* shown = shown_ ? &*shown_ : nullptr;
  if (!shown || shown->display.text != view.display.text) {
    showValue(weight_, displayText(view.display.text));
  }
  if (!shown || shown->display.motionText != view.display.motionText) {
    showValue(motion_, displayText(view.display.motionText));
  }
  net_->setVisible(view.display.netVisible);
  motion_->setVisible(view.display.motionVisible);
  logging_->setVisible(view.loggingVisible);
  shown_ = view;
}

}  // namespace trv4
