#include "app/comm_settings_dialog.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include "base/twips.h"

namespace trv4 {

namespace {

using Group = CommSettingsModel::Group;

struct FrameLayout {
  const char* name;
  const char* caption;
  int left, top, width, height;
};

struct OptionLayout {
  int frame;  // index into kFrames
  Group group;
  int index;  // option index within the model's group
  const char* name;
  const char* caption;
  int left, top;  // inside the frame
  bool enabled;
};

// Twips, as the dialog was drawn.
constexpr FrameLayout kFrames[] = {
    {"Frame6", "&Com Port", 120, 120, 3495, 615},
    {"Frame1", "&Baud Rate", 120, 840, 3495, 1335},
    {"Frame4", "&Parity", 120, 2280, 1275, 1335},
    {"Frame2", "&Data Bits", 1560, 2280, 975, 1335},
    {"Frame3", "&Stop Bits", 2760, 2280, 855, 1335},
    {"Frame5", "&Flow Control", 3840, 1680, 1335, 1935},
};

// 600 and 1200 baud cannot be chosen, but a port running at them still shows them marked.
constexpr OptionLayout kOptions[] = {
    {0, Group::ComPortGroup, 0, "ComPort1", "Com1", 120, 240, true},
    {0, Group::ComPortGroup, 1, "ComPort2", "Com2", 960, 240, true},
    {0, Group::ComPortGroup, 2, "ComPort3", "Com3", 1800, 240, true},
    {0, Group::ComPortGroup, 3, "ComPort4", "Com4", 2640, 240, true},
    {1, Group::BaudGroup, 0, "Baud6", "600", 120, 240, false},
    {1, Group::BaudGroup, 1, "Baud12", "1200", 1320, 240, false},
    {1, Group::BaudGroup, 2, "Baud24", "2400", 2400, 240, true},
    {1, Group::BaudGroup, 3, "Baud48", "4800", 120, 600, true},
    {1, Group::BaudGroup, 4, "Baud96", "9600", 1320, 600, true},
    {1, Group::BaudGroup, 5, "Baud19", "19200", 2400, 600, true},
    {1, Group::BaudGroup, 6, "Baud38", "38400", 120, 960, true},
    {1, Group::BaudGroup, 7, "Baud57", "57600", 1320, 960, true},
    {1, Group::BaudGroup, 8, "Baud11", "115200", 2400, 960, true},
    {2, Group::ParityGroup, 0, "NoParity", "None", 180, 300, true},
    {2, Group::ParityGroup, 1, "OddParity", "Odd", 180, 600, true},
    {2, Group::ParityGroup, 2, "EvenParity", "Even", 180, 900, true},
    {3, Group::DataGroup, 0, "Data7", "7", 240, 360, true},
    {3, Group::DataGroup, 1, "Data8", "8", 240, 840, true},
    {4, Group::StopGroup, 0, "Stop1", "1", 240, 360, true},
    {4, Group::StopGroup, 1, "Stop2", "2", 240, 840, true},
    {5, Group::FlowGroup, 0, "NoFlow", "None", 120, 360, true},
    {5, Group::FlowGroup, 1, "XonFlow", "Xon/Xoff", 120, 720, true},
    {5, Group::FlowGroup, 2, "RTSFlow", "RTS", 120, 1080, true},
    {5, Group::FlowGroup, 3, "BothFlow", "Xon/RTS", 120, 1440, true},
};

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, int left, int top) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(twips(left), twips(top), twips(975), twips(375));
  return button;
}

}  // namespace

CommSettingsDialog::CommSettingsDialog(SerialPort& port, Toolkit& toolkit,
                                       std::function<void()> saveSettings, QWidget* parent)
    : QDialog(parent), model_(port, toolkit, std::move(saveSettings)) {
  setObjectName(QStringLiteral("TermSet"));
  setWindowTitle(QStringLiteral("Communication Settings"));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setFixedSize(twips(5325), twips(3735));

  std::vector<QGroupBox*> frames;
  for (const FrameLayout& f : kFrames) {
    auto* frame = new QGroupBox(QString::fromLatin1(f.caption), this);
    frame->setObjectName(QString::fromLatin1(f.name));
    frame->setGeometry(twips(f.left), twips(f.top), twips(f.width), twips(f.height));
    frames.push_back(frame);
  }
  // One of a group is chosen, as assistive technology reads option buttons; render() still
  // shows exactly what the model marks, a group with none marked included.
  for (QButtonGroup*& group : groups_) {
    group = new QButtonGroup(this);
    group->setExclusive(true);
  }
  for (const OptionLayout& o : kOptions) {
    auto* button = new QRadioButton(QString::fromLatin1(o.caption), frames[o.frame]);
    button->setObjectName(QString::fromLatin1(o.name));
    groups_[o.group]->addButton(button, o.index);
    button->setEnabled(o.enabled);
    button->adjustSize();
    const int room = frames[o.frame]->width() - twips(o.left);
    if (button->width() > room) button->resize(room, button->height());
    button->move(twips(o.left), twips(o.top));
    if (o.group == Group::ComPortGroup) {
      // The device each port number names here, read as the dialog opens.
      const QString device = QString::fromStdString(port.deviceText(o.index + 1));
      button->setToolTip(QString::fromLatin1(o.caption) + ": " + device);
      button->setAccessibleDescription(device);
    }
    // The choice follows the checked state, however the option was marked: mouse, keyboard or
    // assistive technology (whose toggle action raises no click). The group unmarks the option
    // chosen before, and refuses to unmark the one chosen.
    connect(button, &QRadioButton::toggled, this,
            [this, group = o.group, index = o.index](bool checked) {
              if (rendering_ || !checked) return;
              model_.click(group, index);
              render();
            });
  }

  QPushButton* okButton = makeButton(this, "OKButton", "OK", 3960, 240);
  okButton->setDefault(true);
  okButton->setAutoDefault(true);
  QPushButton* cancelButton = makeButton(this, "CancelButton", "Cancel", 3960, 960);
  cancelButton->setAutoDefault(false);
  connect(okButton, &QPushButton::clicked, this, &CommSettingsDialog::okClicked);
  // Escape rejects a dialog, so Cancel and Escape both close it without a change.
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

  model_.load();
  render();
}

void CommSettingsDialog::render() {
  rendering_ = true;
  for (int g = 0; g < CommSettingsModel::kGroupCount; ++g) {
    QButtonGroup* group = groups_[g];
    const int marked = model_.marked(static_cast<CommSettingsModel::Group>(g));
    if (QAbstractButton* button = group->button(marked)) {
      button->setChecked(true);
      continue;
    }
    // An exclusive group keeps its checked option: it lets go only while not exclusive.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(false);
    group->setExclusive(true);
  }
  rendering_ = false;
}

void CommSettingsDialog::okClicked() {
  model_.ok();
  accept();
}

}  // namespace trv4
