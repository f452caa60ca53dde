#include "params/param_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <map>

#include "base/screen_fonts.h"
#include "base/twip_rect.h"
#include "base/value_label.h"
#include "base/widget_text.h"

namespace trv4 {

namespace {

// Geometry in twips.
constexpr int kWidth = 6900;
constexpr int kHeight = 7260;
constexpr int kRowHeight = 315;
constexpr int kButtonHeight = 375;
constexpr int kRowsTop = 1380;
constexpr int kRowStep = 360;
// Left column: caption, control; right column the same.
constexpr int kLeftCaption = 120, kLeftCaptionWidth = 1980;
constexpr int kLeftControl = 2160, kLeftControlWidth = 1200;
constexpr int kRightCaption = 3600, kRightCaptionWidth = 1860;
constexpr int kRightControl = 5520, kRightControlWidth = 1260;
constexpr int kCheckWidth = kRightControl + kRightControlWidth - kRightCaption;
// The rows under the left column.
constexpr int kLockRow = 5460;
constexpr int kLockLabelRow = 5940;
constexpr int kInternalRow = 6300;
constexpr int kCornerRow = 6780;
constexpr int kValueLeft = kLeftControl, kValueWidth = 840, kValueStep = 930;

const QColor kLockColour(255, 0, 0);

struct Place {
  QRect caption;  // empty: the control carries its own caption
  QRect control;
};

// Where each field sits, by control name.
std::map<std::string, Place> fieldPlaces() {
  std::map<std::string, Place> places;
  auto row = [&](const char* name, bool right, int top) {
    places[name] = right ? Place{twipRect(kRightCaption, top, kRightCaptionWidth, kRowHeight),
                                 twipRect(kRightControl, top, kRightControlWidth, kRowHeight)}
                         : Place{twipRect(kLeftCaption, top, kLeftCaptionWidth, kRowHeight),
                                 twipRect(kLeftControl, top, kLeftControlWidth, kRowHeight)};
  };
  int top = kRowsTop;
  for (const char* name : {"vDecimalPoint", "vResolution", "vRange", "vFilter", "vMotionSamples",
                           "vInterval", "vUnit", "vLcNo", "vGain", "vConv", "vATCounter"}) {
    row(name, false, top);
    top += kRowStep;
  }
  top = kRowsTop;
  for (const char* name : {"vScaleAddr", "vBaud", "vDataBits", "vSetp1", "vSetp2"}) {
    row(name, true, top);
    top += kRowStep;
  }
  for (const char* name : {"vAZero", "vPowerUpZero", "vDualFilter", "vLZero"}) {
    places[name] = {QRect(), twipRect(kRightCaption, top, kCheckWidth, kRowHeight)};
    top += kRowStep;
  }
  top += kRowStep - 120;  // a wider gap before the tilt settings
  for (const char* name : {"vTiltMode", "vTiltDelay"}) {
    row(name, true, top);
    top += 480;
  }
  const int pinTop = kLockRow + (kButtonHeight - kRowHeight) / 2;
  places["vPin"] = {twipRect(1800, pinTop, 330, kRowHeight),
                    twipRect(kLeftControl, pinTop, kLeftControlWidth, kRowHeight)};
  places["vCalLock"] = {QRect(), twipRect(kLeftCaption, kLockLabelRow, 1500, 255)};
  places["vPinLock"] = {QRect(), twipRect(1740, kLockLabelRow, 1500, 255)};
  return places;
}

QString latin(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* makeCaption(QWidget* parent, const std::string& name, const QString& text,
                    const QRect& rect) {
  auto* label = placed(new QLabel(text, parent), latin(name + "Label"), rect);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

}  // namespace

ParamWindow::ParamWindow(Param& model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint), model_(model) {
  setObjectName(QStringLiteral("Param"));
  setWindowTitle(QStringLiteral("Scale Parameters"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(screenFont(Face::SansSerif, 8.25, false));
  setFixedSize(twips(kWidth), twips(kHeight));
  move(twips(0), twips(2900));

  // The exchanges along the top, in a frame.
  auto* strip =
      placed(new QGroupBox(this), QStringLiteral("Frame1"), twipRect(120, 60, 6660, 1140));
  addButton(
      strip, 2, [this] { model_.Command2_Click(); }, "Upload Parameters",
      twipRect(120, 450, 1860, kButtonHeight));
  addButton(
      strip, 3, [this] { model_.Command3_Click(); }, "Download Weight Parameters",
      twipRect(2100, 240, 3120, kButtonHeight));
  addButton(
      strip, 4, [this] { model_.Command4_Click(); }, "Download Operational Parameters",
      twipRect(2100, 660, 3120, kButtonHeight));
  addButton(
      strip, 5, [this] { model_.Command5_Click(); }, "Store",
      twipRect(5340, 450, 1200, kButtonHeight));

  controls_.reserve(paramFields().size());
  for (const ParamField& field : paramFields()) addControl(field);

  addButton(
      this, 6, [this] { model_.Command6_Click(); }, "Unlock",
      twipRect(kLeftCaption, kLockRow, 780, kButtonHeight));
  addButton(
      this, 9, [this] { model_.Command9_Click(); }, "Lock",
      twipRect(960, kLockRow, 780, kButtonHeight));
  addButton(
      this, 1, [this] { model_.Command1_Click(); }, "Internal Resolution",
      twipRect(kLeftCaption, kInternalRow, 1920, kButtonHeight));

  // Left to right: internal resolutions 1 to 4, then 0.
  const int valueTop = kInternalRow + (kButtonHeight - kRowHeight) / 2;
  for (int slot = 0; slot < 5; ++slot) {
    const int i = (slot + 1) % 5;
    internal_[i].label = addValueLabel(
        QStringLiteral("vInternal(%1)").arg(i), QStringLiteral("Internal resolution %1").arg(i),
        twipRect(kValueLeft + slot * kValueStep, valueTop, kValueWidth, kRowHeight));
  }
  makeCaption(this, "Corners", QStringLiteral("Corners Factor"),
              twipRect(kLeftCaption, kCornerRow, kLeftCaptionWidth, kRowHeight));
  for (int i = 0; i < 4; ++i) {
    corners_[i].label = addValueLabel(
        QStringLiteral("Corner(%1)").arg(i), QStringLiteral("Corner %1 factor").arg(i + 1),
        twipRect(kValueLeft + i * kValueStep, kCornerRow, kValueWidth, kRowHeight));
  }

  // Tab order follows the rows: the lock buttons, then the PIN they use.
  auto* unlock = findChild<QPushButton*>(QStringLiteral("Command6"));
  auto* lock = findChild<QPushButton*>(QStringLiteral("Command9"));
  auto* pin = findChild<QLineEdit*>(QStringLiteral("vPin"));
  if (unlock && lock && pin) {
    setTabOrder(unlock, lock);
    setTabOrder(lock, pin);
    setTabOrder(pin, findChild<QPushButton*>(QStringLiteral("Command1")));
  }

  model_.onChanged = [this] { refresh(); };
  refresh();
}

ParamWindow::~ParamWindow() {
  model_.onChanged = nullptr;
}

void ParamWindow::closeEvent(QCloseEvent* event) {
  // An exchange waits inside the logic: the window and its logic must outlive it.
  if (model_.busy()) {
    event->ignore();
    return;
  }
  event->accept();
}

void ParamWindow::addButton(QWidget* parent, int command, std::function<void()> click,
                            const char* caption, const QRect& rect) {
  auto* button = placed(new QPushButton(QString::fromLatin1(caption), parent),
                        QStringLiteral("Command%1").arg(command), rect);
  button->setAutoDefault(false);
  buttons_.push_back({command, button});
  connect(button, &QPushButton::clicked, this, std::move(click));
}

QLabel* ParamWindow::addValueLabel(const QString& name, const QString& what, const QRect& rect) {
  auto* label = placed(new QLabel(this), name, rect);
  label->setTextFormat(Qt::PlainText);  // texts from the line are never markup
  label->setAlignment(Qt::AlignCenter);
  label->setFrameStyle(QFrame::Box | QFrame::Plain);
  label->setAutoFillBackground(true);
  QPalette white = label->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(white);
  describeValue(label, what);
  return label;
}

void ParamWindow::addControl(const ParamField& field) {
  static const std::map<std::string, Place> places = fieldPlaces();
  const auto at = places.find(field.name);
  const Place place = at == places.end() ? Place{} : at->second;
  const QString name = latin(field.name);
  const QString caption = fromCodePage(field.caption);
  const std::size_t index = controls_.size();
  QWidget* widget = nullptr;

  switch (field.kind) {
    case FieldKind::Choice: {
      auto* box = placed(new QComboBox(this), name, place.control);
      box->setEditable(false);
      box->setMaxVisibleItems(static_cast<int>(field.choices.size()) + 1);
      for (const std::string& choice : field.choices) box->addItem(fromCodePage(choice));
      connect(box, &QComboBox::currentIndexChanged, this,
              [this, index](int entry) { picked(index, entry); });
      widget = box;
      break;
    }
    case FieldKind::Text:
    case FieldKind::Pin: {
      auto* edit = placed(new QLineEdit(this), name, place.control);
      edit->setMaxLength(field.maxLength);
      if (field.kind == FieldKind::Pin) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
      }
      // The audit trail counter is read from the scale, never typed: a value shown, read by
      // assistive technology as the name, with its caption as the description.
      if (field.name == "vATCounter") {
        edit->setReadOnly(true);
        edit->setAccessibleDescription(caption);
      }
      connect(edit, &QLineEdit::textChanged, this,
              [this, index](const QString& text) { forward(index, toCodePage(text)); });
      widget = edit;
      break;
    }
    case FieldKind::Check: {
      auto* check = placed(new QCheckBox(caption, this), name, place.control);
      connect(check, &QCheckBox::toggled, this,
              [this, index](bool on) { forward(index, on ? "1" : "0"); });
      widget = check;
      break;
    }
    case FieldKind::Label: {
      auto* label = placed(new QLabel(caption, this), name, place.control);
      label->setTextFormat(Qt::PlainText);
      label->setFont(screenFont(Face::SansSerif, 8.25, true));
      QPalette red = label->palette();
      red.setColor(QPalette::WindowText, kLockColour);
      label->setPalette(red);
      // Shown while the lock is on: its caption is the value.
      describeValue(label, field.name == "vCalLock" ? QStringLiteral("Calibration lock")
                                                    : QStringLiteral("PIN lock"));
      widget = label;
      break;
    }
  }
  widget->setEnabled(field.enabled);
  if (!place.caption.isNull()) {
    QLabel* label = makeCaption(this, field.name, caption, place.caption);
    label->setBuddy(widget);
    label->setEnabled(field.enabled);
  }
  controls_.push_back({&field, widget, std::nullopt});
}

void ParamWindow::forward(std::size_t index, const std::string& text) {
  if (rendering_) return;
  Control& control = controls_[index];
  // A text box or check box shows the edit already: the repaint it causes leaves the operator's
  // typing (and the cursor) alone. A choice list is repainted, which drops its extra entry.
  if (control.field->kind != FieldKind::Choice) control.shown = text;
  if (!model_.setValue(control.field->name, text)) {
    control.shown.reset();
    render(control);
  }
}

void ParamWindow::picked(std::size_t index, int entry) {
  if (rendering_) return;
  const std::vector<std::string>& choices = controls_[index].field->choices;
  // The extra entry is the value as it was read: choosing it changes nothing.
  if (entry < 0 || entry >= static_cast<int>(choices.size())) return;
  forward(index, choices[entry]);
}

void ParamWindow::render(Control& control) {
  const std::string& value = model_.value(control.field->name);
  if (control.shown == value) return;
  control.shown = value;
  rendering_ = true;
  switch (control.field->kind) {
    case FieldKind::Choice: {
      auto* box = static_cast<QComboBox*>(control.widget);
      const std::vector<std::string>& choices = control.field->choices;
      const int listed = static_cast<int>(choices.size());
      while (box->count() > listed) box->removeItem(listed);
      const auto it = std::find(choices.begin(), choices.end(), value);
      if (it != choices.end()) {
        box->setCurrentIndex(static_cast<int>(it - choices.begin()));
      } else if (value.empty()) {
        box->setCurrentIndex(-1);
      } else {
        // A value the list does not offer shows as it is, as an extra last entry.
        box->addItem(displayText(value));
        box->setCurrentIndex(listed);
      }
      break;
    }
    case FieldKind::Text:
    case FieldKind::Pin: {
      auto* edit = static_cast<QLineEdit*>(control.widget);
      edit->setText(displayText(value));
      if (edit->isReadOnly()) edit->setAccessibleName(edit->text());
      break;
    }
    case FieldKind::Check:
      static_cast<QCheckBox*>(control.widget)->setChecked(value == "1");
      break;
    case FieldKind::Label:
      control.widget->setVisible(value == "1");
      break;
  }
  rendering_ = false;
}

void ParamWindow::refresh() {
  const bool windowOff = !model_.windowEnabled();
  if (testAttribute(Qt::WA_ForceDisabled) != windowOff) setEnabled(!windowOff);
  // One exchange at a time: every button is off while one waits.
  const bool busy = model_.busy();
  for (const Button& b : buttons_) {
    const bool lockButton = b.command == 6 || b.command == 9;
    const bool on = !busy && (!lockButton || model_.buttonEnabled(b.command));
    if (b.button->isEnabledTo(this) != on) b.button->setEnabled(on);
  }
  for (Control& control : controls_) render(control);
  auto show = [](ValueLabel& v, const std::string& value) {
    if (v.shown == value) return;
    v.shown = value;
    showValue(v.label, displayText(value));
  };
  for (int i = 0; i < 5; ++i) show(internal_[i], model_.vInternal(i));
  for (int i = 0; i < 4; ++i) show(corners_[i], model_.Corner(i));
}

}  // namespace trv4
