#include "app/about_box.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "app/app_icon.h"
#include "base/screen_fonts.h"
#include "base/twips.h"
#include "base/value_label.h"

namespace trv4 {

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(twips(left), twips(top), twips(width), twips(height));
  return label;
}

}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("about"));
  setWindowTitle(QStringLiteral("About TRV-4"));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setFixedSize(twips(3615), twips(1260));

  QLabel* image = makeLabel(this, "Image1", 120, 120, 480, 480);
  image->setPixmap(appIcon().pixmap(twips(480), twips(480)));
  image->setAccessibleName(QStringLiteral("Picture of the network of scales"));

  QLabel* name = makeLabel(this, "Label2", 855, 225, 900, 360);
  name->setText(QStringLiteral("TRV-4"));
  name->setFont(screenFont(Face::SansSerif, 13.5, true));
  describeValue(name, QStringLiteral("Product"));

  QLabel* maker = makeLabel(this, "Label1", 120, 720, 3375, 375);
  maker->setText(QStringLiteral("Dravmet Gmbh"));
  maker->setFont(screenFont(Face::Arial, 13.5, false, true));
  describeValue(maker, QStringLiteral("Maker"));
  QPalette palette = maker->palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  maker->setPalette(palette);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("Command1"));
  ok->setGeometry(twips(2760), twips(120), twips(735), twips(495));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace trv4
