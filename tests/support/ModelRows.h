#pragma once

// Rows of the desktop's device list for tests and benchmarks that drive the window: added through
// the list's model, as the operator's edits are. Header only: the support library itself has no Qt.
#include <stdexcept>
#include <string>
#include <utility>

#include "console/DeviceListModel.h"

namespace zandorui::testing {

// Adds a ticked row through the list's model, as the operator's edits go; a row the model refuses
// is a fault of the test itself.
inline std::size_t AddTickedRow(DeviceListModel& rows, const std::string& name,
                                const std::string& address, const std::string& port,
                                const std::string& key = vel::kNoEncryption) {
  rows.AddDevice();
  const std::size_t row = rows.List().Count() - 1;
  for (const auto& [column, text] : {std::pair{DeviceListModel::kNameColumn, name},
                                     {DeviceListModel::kAddressColumn, address},
                                     {DeviceListModel::kPortColumn, port},
                                     {DeviceListModel::kKeyColumn, key}}) {
    if (const vel::Result set = rows.SetCell(row, column, text); !set) {
      throw std::logic_error(set.error());
    }
  }
  rows.SetChecked(row, true);
  return row;
}

}  // namespace zandorui::testing
