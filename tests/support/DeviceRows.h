#pragma once

#include <stdexcept>
#include <string>

#include "devices/DeviceList.h"

namespace vel::testing {

// Appends a ticked row to a device list and returns its index.
inline std::size_t AddTickedRow(DeviceList& list, const std::string& name,
                                const std::string& address, const std::string& port,
                                const std::string& key = kNoEncryption) {
  const std::size_t row = list.AddDevice();
  for (const auto& [column, text] : {std::pair{DeviceColumn::kName, name},
                                     {DeviceColumn::kAddress, address},
                                     {DeviceColumn::kPort, port},
                                     {DeviceColumn::kKey, key}}) {
    // A row the list refuses is a fault of the test itself.
    if (const Result set = list.SetCell(row, column, text); !set)
      throw std::logic_error(set.error());
  }
  list.SetChecked(row, true);
  return row;
}

}  // namespace vel::testing
