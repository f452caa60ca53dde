// "Calibration Record": TRV4CAL.LOG as a table, newest line last, read again on "Refresh".
#pragma once

#include <QWidget>
#include <string>

class QTableWidget;

namespace trv4 {

class CalibRecordWindow : public QWidget {
  Q_OBJECT

 public:
  CalibRecordWindow(std::string path, QWidget* parent);

  // Reads the file again.
  void refresh();

 private:
  std::string path_;
  QTableWidget* table_ = nullptr;
};

}  // namespace trv4
