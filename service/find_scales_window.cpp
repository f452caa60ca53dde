#include "service/find_scales_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/widget_text.h"

namespace trv4 {

FindScalesWindow::FindScalesWindow(std::unique_ptr<ScaleFinder> finder,
                                   std::function<std::string()> blocker, QWidget* parent)
    : QWidget(parent, Qt::Window), finder_(std::move(finder)), blocker_(std::move(blocker)) {
  setObjectName(QStringLiteral("FindScales"));
  setWindowTitle(tr("Find Scales"));
  setAttribute(Qt::WA_DeleteOnClose);

  everyRate_ = new QCheckBox(tr("At every &rate (7E1 and 8N1)"), this);
  everyRate_->setObjectName(QStringLiteral("EveryRateChk"));
  search_ = new QPushButton(tr("&Search"), this);
  search_->setObjectName(QStringLiteral("SearchCmd"));
  cancel_ = new QPushButton(tr("&Cancel"), this);
  cancel_->setObjectName(QStringLiteral("CancelCmd"));
  poll_ = new QPushButton(tr("&Poll these"), this);
  poll_->setObjectName(QStringLiteral("PollCmd"));
  undo_ = new QPushButton(tr("&Undo"), this);
  undo_->setObjectName(QStringLiteral("UndoCmd"));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("SearchProgress"));
  progress_->setAccessibleName(tr("Search progress"));
  progress_->setValue(0);
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("FindMessage"));
  message_->setAccessibleName(tr("Search result"));
  message_->setWordWrap(true);

  table_ = new QTableWidget(kMaxScales, 4, this);
  table_->setObjectName(QStringLiteral("FoundTable"));
  table_->setAccessibleName(tr("Addresses and their answers"));
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->setHorizontalHeaderLabels({tr("Address"), tr("Answered"), tr("Settings"), tr("Status")});
  table_->horizontalHeader()->setStretchLastSection(true);
  for (int r = 0; r < kMaxScales; ++r) {
    table_->setItem(r, 0, new QTableWidgetItem(QString(QChar(scaleAddress(r)))));
    for (int c = 1; c < 4; ++c) table_->setItem(r, c, new QTableWidgetItem);
  }

  connect(search_, &QPushButton::clicked, this, &FindScalesWindow::search);
  connect(cancel_, &QPushButton::clicked, this, [this] { finder_->cancel(); });
  connect(poll_, &QPushButton::clicked, this, [this] {
    if (finder_->pollFound())
      message_->setText(tr("The found scales are polled now; the others are not."));
    updateButtons();
  });
  connect(undo_, &QPushButton::clicked, this, [this] {
    if (finder_->undo()) message_->setText(tr("The scales polled before are polled again."));
    updateButtons();
  });
  finder_->onProgress = [this] { showProgress(); };
  finder_->onFinished = [this] { showFound(); };

  auto* top = new QHBoxLayout;
  top->addWidget(everyRate_);
  top->addStretch(1);
  top->addWidget(search_);
  top->addWidget(cancel_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(message_, 1);
  bottom->addWidget(poll_);
  bottom->addWidget(undo_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(progress_);
  layout->addWidget(table_, 1);
  layout->addLayout(bottom);
  table_->setColumnWidth(0, 70);
  table_->setColumnWidth(1, 80);
  table_->setColumnWidth(2, 200);
  table_->setWordWrap(false);
  resize(620, 640);
  updateButtons();
}

FindScalesWindow::~FindScalesWindow() {
  finder_->onProgress = nullptr;
  finder_->onFinished = nullptr;
}

void FindScalesWindow::search() {
  const std::string blocked = blocker_ ? blocker_() : std::string();
  const std::string refused = blocked.empty() ? finder_->start(everyRate_->isChecked()) : blocked;
  if (!refused.empty()) {
    message_->setText(fromCodePage(refused));
    return;
  }
  if (finder_->running()) message_->setText(tr("Searching; polling is paused meanwhile."));
  updateButtons();
}

void FindScalesWindow::showProgress() {
  progress_->setMaximum(finder_->stepsTotal());
  progress_->setValue(finder_->stepsDone());
  showFound();
}

void FindScalesWindow::showFound() {
  int count = 0;
  for (int r = 0; r < kMaxScales; ++r) {
    const FoundScale& f = finder_->found()[r];
    count += f.answered;
    QString settings;
    for (const std::string& s : f.settings)
      settings += (settings.isEmpty() ? "" : "; ") + QString::fromStdString(s);
    table_->item(r, 1)->setText(f.answered ? tr("yes") : QString());
    table_->item(r, 2)->setText(settings);
    table_->item(r, 3)->setText(fromCodePage(f.shown));
  }
  if (!finder_->running()) {
    QString text = finder_->stepsDone() < finder_->stepsTotal()
                       ? tr("Search cancelled: %n scale(s) found so far.", "", count)
                       : tr("Search done: %n scale(s) answered.", "", count);
    if (const PortError& error = finder_->restoreError())
      text += " " + tr("The port's settings could not be put back: %1")
                        .arg(fromCodePage(portErrorText(*error)));
    message_->setText(text);
  }
  updateButtons();
}

void FindScalesWindow::updateButtons() {
  const bool running = finder_->running();
  search_->setEnabled(!running);
  everyRate_->setEnabled(!running);
  cancel_->setEnabled(running);
  bool any = false;
  for (const FoundScale& f : finder_->found()) any = any || f.answered;
  poll_->setEnabled(!running && any);
  undo_->setEnabled(!running && finder_->canUndo());
}

}  // namespace trv4
