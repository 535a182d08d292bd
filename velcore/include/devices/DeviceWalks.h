#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "devices/DeviceJobs.h"
#include "devices/DeviceList.h"
#include "devices/DeviceOperations.h"

namespace vel {

// How a row is reached; a failure when its key is not 16 dashed pairs or the
// list file ended before its address, port or key.
Expected<DeviceTarget> TargetForRow(const DeviceEntry& row);

// A short name for a row's link, unique per port or endpoint ("serial:COM3", "tcp:10.0.0.5:3000").
std::string LinkOfRow(const DeviceEntry& row);

// What a target reaches, the same for every way of writing it: the serial device a port name
// opens, or the socket an address and port connect to (every address of this host is one).
// Rows with one endpoint never run at the same time.
std::string EndpointOf(const DeviceTarget& target);

// A row of the device list as a job takes it (a copy: the job never touches the list).
JobRow RowOfList(std::size_t row, const DeviceEntry& entry);

constexpr const char* kLoadHexFileFirst = "Load the Hex File !";
constexpr const char* kDeviceUpdating = "Device updating ...";
constexpr const char* kDeviceChecking = "Device checking ...";

}  // namespace vel
