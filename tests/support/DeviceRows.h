#pragma once

#include <string>

#include "devices/DeviceList.h"

namespace vel::testing {

// Appends a ticked row to a device list and returns its index.
inline std::size_t AddTickedRow(DeviceList& list, const std::string& name,
                                const std::string& address, const std::string& port,
                                const std::string& key = kNoEncryption) {
  const std::size_t row = list.AddDevice();
  std::string error;
  list.SetCell(row, DeviceColumn::kName, name, &error);
  list.SetCell(row, DeviceColumn::kAddress, address, &error);
  list.SetCell(row, DeviceColumn::kPort, port, &error);
  list.SetCell(row, DeviceColumn::kKey, key, &error);
  list.SetChecked(row, true);
  return row;
}

}  // namespace vel::testing
