#include "calib/calib_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStringList>
#include <QToolButton>
#include <algorithm>

#include "base/screen_fonts.h"
#include "base/twip_rect.h"
#include "base/value_label.h"
#include "base/widget_text.h"
#include "calib/calib_icons.h"

namespace trv4 {

namespace {

QToolButton* pictureButton(QWidget* parent, const char* name, const QString& caption,
                           const QPixmap& picture) {
  auto* button = placed(new QToolButton(parent), name, twipRect(5160, 0, 615, 615));
  button->setText(caption);  // what assistive technology reads; the picture is what shows
  button->setToolTip(caption);
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  button->setIcon(QIcon(picture));
  button->setIconSize(QSize(32, 32));
  button->hide();
  return button;
}

// A prompt's lines are separated by CR. The corner number in a prompt comes from the scale, so
// each line shows control characters as the replacement character.
QString promptText(const std::string& text) {
  QStringList lines;
  std::size_t from = 0;
  for (;;) {
    const std::size_t cr = text.find('\r', from);
    lines << displayText(text.substr(from, cr == std::string::npos ? cr : cr - from));
    if (cr == std::string::npos) break;
    from = cr + 1;
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

CalibWindow::CalibWindow(Calib& model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint), model_(model) {
  setObjectName(QStringLiteral("Calib"));
  setFont(screenFont(Face::SansSerif, 8.25, false));
  setFixedSize(twips(5865), twips(1395));
  move(twips(0), twips(2900));

  ask_ = placed(new QLabel(this), QStringLiteral("AskLbl"), twipRect(120, 120, 3735, 495));
  ask_->setTextFormat(Qt::PlainText);
  ask_->setWordWrap(true);
  ask_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  input_ = placed(new QLineEdit(this), QStringLiteral("AskTxt"), twipRect(3960, 120, 1095, 375));
  input_->hide();
  input_->installEventFilter(this);
  // The prompt is the box's caption: assistive technology reads it with the box.
  ask_->setBuddy(input_);
  describeValue(ask_, QStringLiteral("Prompt"));
  connect(input_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (rendering_) return;
    // Typed or pasted: the logic holds it to the length and the key filter's rules.
    if (!model_.setAskTxt(toCodePage(text))) {
      shown_.reset();
      refresh();
    }
  });

  start_ = pictureButton(this, "StartCmd", QStringLiteral("Start"), pressKeyPicture());
  stop_ = pictureButton(this, "StopCmd", QStringLiteral("Stop"), stopSignPicture());
  connect(start_, &QToolButton::clicked, this, [this] { model_.StartCmd_Click(); });
  connect(stop_, &QToolButton::clicked, this, [this] { model_.StopCmd_Click(); });

  hint_ = placed(new QLabel(this), QStringLiteral("Label1"), twipRect(120, 720, 4920, 570));
  hint_->setTextFormat(Qt::PlainText);
  hint_->setWordWrap(true);
  // Top-aligned: while the bar shows it covers the hint's first line.
  hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  hint_->hide();
  describeValue(hint_, QStringLiteral("Hint"));
  bar_ = placed(new QProgressBar(this), QStringLiteral("PBar"), twipRect(120, 720, 4935, 255));
  bar_->setRange(0, kCalibBarMax);
  bar_->setTextVisible(false);
  bar_->setAccessibleName(QStringLiteral("Time waited for the scale"));
  bar_->hide();

  model_.onChanged = [this] { refresh(); };
  refresh();
}

CalibWindow::~CalibWindow() {
  model_.onChanged = nullptr;
}

void CalibWindow::closeEvent(QCloseEvent* event) {
  // Taken as Stop; the window hides when the logic has let go of it.
  model_.close();
  event->accept();
}

bool CalibWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched != input_ || event->type() != QEvent::KeyPress) {
    return QWidget::eventFilter(watched, event);
  }
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    model_.AskTxt_KeyPress('\r');
    return true;
  }
  // Printable keys go through the key filter; editing and moving keys reach the box as they are.
  const std::string typed = toCodePage(key->text());
  if (typed.size() != 1 || static_cast<unsigned char>(typed[0]) < 0x20) return false;
  return !model_.AskTxt_KeyPress(typed[0]);
}

void CalibWindow::refresh() {
  const CalibView& v = model_.view();
  if (shown_ == v) return;
  const bool gainsFocus = v.askTxtFocus && (!shown_ || !shown_->askTxtFocus);
  const bool opens = v.shown && (!shown_ || !shown_->shown);
  rendering_ = true;
  setWindowTitle(fromCodePage(v.caption));
  showValue(ask_, promptText(v.askLbl));
  input_->setMaxLength(std::max(v.askTxtMaxLength, 1));
  const QString text = fromCodePage(v.askTxt);
  if (input_->text() != text) input_->setText(text);
  input_->setEnabled(v.askTxtEnabled);
  input_->setVisible(v.askTxtVisible);
  start_->setVisible(v.startVisible);
  stop_->setVisible(v.stopVisible);
  showValue(hint_, promptText(v.label1));
  hint_->setVisible(v.label1Visible);
  bar_->setValue(v.pbarValue);
  bar_->setVisible(v.pbarVisible);
  rendering_ = false;
  shown_ = v;

  if (!v.shown) {
    hide();
    return;
  }
  if (opens) {
    show();
    raise();
    activateWindow();
  }
  if (gainsFocus) input_->setFocus();
}

}  // namespace trv4
