#pragma once

#include <QTableWidget>

#include "devices/DeviceList.h"

namespace zandorui {

// The device list as the operator sees it: six columns with grid lines, a check box in front of
// each row and whole-row selection. It shows the core's list and writes back only the check
// boxes; every other change goes through the list and is shown again.
class DeviceTable : public QTableWidget {
  Q_OBJECT
 public:
  explicit DeviceTable(vel::DeviceList& list, QWidget* parent = nullptr);

  // Shows the whole list again (after a load, New, Delete, Select All ...).
  void ShowList();
  // Shows one row's Status cell.
  void ShowStatus(std::size_t row, const QString& text);

 private:
  void CheckChanged(QTableWidgetItem* item);

  vel::DeviceList& list_;
  bool showing_ = false;
};

}  // namespace zandorui
