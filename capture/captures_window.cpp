#include "capture/captures_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "base/calendar_fields.h"
#include "capture/capture_csv.h"
#include "link/link_state.h"
#include "service/save_text_file.h"

namespace trv4 {

namespace {

constexpr int kWaitingCheckMs = 1000;

// "2026-12-06 14:03:59.123" by the local clock.
QString localTime(int64_t utcMs) {
  const std::tm t = localFields(static_cast<std::time_t>(utcMs / 1000));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                static_cast<int>(utcMs % 1000));
  return QString::fromLatin1(buf);
}

}  // namespace

CapturesWindow::CapturesWindow(CaptureDesk& desk, std::function<std::string()> selection,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), desk_(desk), selection_(std::move(selection)) {
  setObjectName(QStringLiteral("Captures"));
  setWindowTitle(tr("Captures"));
  setAttribute(Qt::WA_DeleteOnClose);

  const QStringList headers = {tr("No."), tr("Time"),         tr("Scale"),    tr("Weight"),
                               tr("Net"), tr("Requested by"), tr("Delivered")};
  table_ = new QTableWidget(0, static_cast<int>(headers.size()), this);
  table_->setObjectName(QStringLiteral("CaptureTable"));
  table_->setAccessibleName(tr("Captures, newest first"));
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->setHorizontalHeaderLabels(headers);

  capture_ = new QPushButton(tr("&Capture"), this);
  capture_->setObjectName(QStringLiteral("CaptureCmd"));
  connect(capture_, &QPushButton::clicked, this, &CapturesWindow::takeCapture);
  auto* exportButton = new QPushButton(tr("&Export CSV…"), this);
  exportButton->setObjectName(QStringLiteral("ExportCmd"));
  connect(exportButton, &QPushButton::clicked, this, &CapturesWindow::exportCsv);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("StatusLbl"));
  status_->setAccessibleDescription(tr("Result of the last capture"));
  waiting_ = new QLabel(this);
  waiting_->setObjectName(QStringLiteral("WaitingLbl"));
  waiting_->setAccessibleDescription(tr("Captures waiting for delivery"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(capture_);
  buttons->addStretch(1);
  buttons->addWidget(exportButton);
  auto* statusLine = new QHBoxLayout;
  statusLine->addWidget(status_, 1);
  statusLine->addWidget(waiting_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(table_, 1);
  layout->addLayout(statusLine);

  listener_ = desk_.addListener([this](const Capture&) { refresh(); });
  timer_ = new QTimer(this);
  timer_->setInterval(kWaitingCheckMs);
  connect(timer_, &QTimer::timeout, this, [this] {
    if (desk_.waitingForDelivery() != waitingShown_) refresh();
  });
  timer_->start();
  refresh();
  resize(760, 420);
}

CapturesWindow::~CapturesWindow() {
  desk_.removeListener(listener_);
}

void CapturesWindow::refresh() {
  const std::vector<Capture> rows = desk_.newest(kCapturesShown);
  table_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const Capture& c = rows[static_cast<std::size_t>(r)];
    const std::vector<std::string> fields = captureFields(c);
    const QStringList cells = {
        QString::number(c.sequence),       localTime(c.utcMs),
        QString::fromStdString(fields[2]), QString::fromStdString(c.text),
        c.net ? tr("net") : tr("gross"),   QString::fromStdString(c.requestedBy),
        c.delivered ? tr("yes") : tr("no")};
    for (int col = 0; col < cells.size(); ++col) {
      QTableWidgetItem* item = table_->item(r, col);
      if (!item) table_->setItem(r, col, item = new QTableWidgetItem);
      item->setText(cells[col]);
    }
  }
  table_->resizeColumnsToContents();
  waitingShown_ = desk_.waitingForDelivery();
  waiting_->setText(tr("%n waiting for delivery", nullptr, static_cast<int>(waitingShown_)));
}

void CapturesWindow::takeCapture() {
  const std::string address = selection_ ? selection_() : std::string();
  const int scale = scaleIndex(address);
  if (scale < 0) {
    status_->setText(tr("Choose one scale in the single-scale window: \"@\" is every scale."));
    return;
  }
  CaptureRequest request;
  request.scale = scale;
  request.requestedBy = "operator";
  capture_->setEnabled(false);
  status_->setText(tr("Capturing scale %1 …").arg(QString::fromStdString(address)));
  QPointer<CapturesWindow> self(this);
  desk_.capture(request, [self](const CaptureOutcome& outcome) {
    if (!self) return;
    self->capture_->setEnabled(true);
    self->status_->setText(QString::fromStdString(outcome.message));
  });
}

void CapturesWindow::exportCsv() {
  // The journal is read on its own side; the file dialog comes once every page is in.
  QPointer<CapturesWindow> self(this);
  readCapturesCsv(desk_, [self](std::string csv) {
    if (!self) return;
    saveTextFile(self, tr("Export Captures"), QStringLiteral("captures.csv"),
                 tr("CSV files (*.csv);;All files (*)"), csv);
  });
}

}  // namespace trv4
