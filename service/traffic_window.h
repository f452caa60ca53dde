// "Traffic Monitor": the line's last frames from the traffic ring, newest last. The view takes
// what the ring recorded since its last look, at most four times a second; "Pause" stops the
// view while recording goes on, "Clear" empties ring and view, the address filter shows one
// scale, "Save…" writes what the view shows to a text file.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <deque>

#include "link/traffic_ring.h"

class QCheckBox;
class QComboBox;
class QTableView;
class QTimer;

namespace trv4 {

class TrafficModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TrafficModel(TrafficRing& ring, QObject* parent)
      : QAbstractTableModel(parent), ring_(ring) {}

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Takes the entries the ring recorded since the last call; true when rows were added.
  bool takeNew();
  // Shows only scale (0..29, -1 broadcasts), or every scale with kAll; rebuilt from the ring.
  static constexpr int kAll = -2;
  void setFilter(int scale);
  void clear();
  // The rows as the traffic file holds them, a heading first.
  std::string text() const;

 private:
  bool shown(const TrafficEntry& e) const { return filter_ == kAll || e.scale == filter_; }

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

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  TrafficRing& ring_;
  TrafficModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QCheckBox* pause_ = nullptr;
  QComboBox* filter_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace trv4
