// "Traffic Monitor": the line's last frames from the traffic ring, newest last, one line each.
// The view takes what the ring recorded since its last look, twice a second;
// "Pause" stops the view while recording goes on, "Clear" empties ring and view, the address
// filter shows one scale, "Save…" writes what the view shows to a text file.
#pragma once

#include <QWidget>
#include <deque>
#include <string>
#include <vector>

#include "link/traffic_ring.h"

class QCheckBox;
class QComboBox;
class QPlainTextEdit;

namespace trv4 {

// The entries the view shows: taken from the ring as it records them, one scale or all, as many
// as the ring holds.
class TrafficLog {
 public:
  explicit TrafficLog(TrafficRing& ring) : ring_(ring) {}

  static constexpr int kAll = -2;
  // The entries recorded since the last call that the filter lets through, kept in the log.
  std::vector<const TrafficEntry*> takeNew();
  // Shows only scale (0..29, -1 broadcasts) or every one (kAll), from what the ring holds now.
  void setFilter(int scale);
  void clear();
  const std::deque<TrafficEntry>& entries() const { return rows_; }
  // The entries as the traffic file holds them, a heading first.
  std::string text() const;

 private:
  TrafficRing& ring_;
  std::deque<TrafficEntry> rows_;
  uint64_t seen_ = 0;  // sequence of the newest ring entry looked at
  int filter_ = kAll;
};

class TrafficWindow : public QWidget {
  Q_OBJECT

 public:
  TrafficWindow(TrafficRing& ring, QWidget* parent);

  void refresh();
  const TrafficLog& log() const { return log_; }

 private:
  void rebuild();

  TrafficLog log_;
  QPlainTextEdit* view_ = nullptr;
  QCheckBox* pause_ = nullptr;
  QComboBox* filter_ = nullptr;
};

}  // namespace trv4
