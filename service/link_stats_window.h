// "Link Statistics": the exchange counters of every scale that took part, and the line's
// totals, read from the link twice a second while the window shows; "Reset" zeroes them,
// "Save…" writes CSV.
#pragma once

#include <QWidget>

#include "link/link_stats.h"

class QTableWidget;

namespace trv4 {

class LinkStatsWindow : public QWidget {
  Q_OBJECT

 public:
  LinkStatsWindow(LinkStats& stats, QWidget* parent);

  void refresh();

 private:
  LinkStats& stats_;
  QTableWidget* table_ = nullptr;
};

}  // namespace trv4
