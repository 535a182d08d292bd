#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "devices/DeviceList.h"
#include "devices/DeviceOperations.h"

namespace vel {

// How a row is reached; nothing (with *problem set) when its key is not 16 dashed pairs.
std::optional<DeviceTarget> TargetForRow(const DeviceEntry& row, std::string* problem);

// A short name for a row's link, unique per port or endpoint ("serial:COM3", "tcp:10.0.0.5:3000").
std::string LinkOfRow(const DeviceEntry& row);

using RowObserver = std::function<void(std::size_t row)>;
// The document that handles a row: the desktop application has one for every row, the
// command-line tool one per row so that rows can run side by side.
using DocumentFor = std::function<CVelUpdateDoc&(std::size_t row)>;

// Updates every checked row with the loaded file, from the top of the list down, and writes each
// outcome into its Status cell. A file that fails its checksum test is refused before any row.
// With `parallel` above 1, up to that many rows run at once, never two on the same port or
// endpoint. A request on `walkCancel` starts no further row. True (and the message "Device Update
// Successful") only when every handled row succeeded and the walk was not cancelled.
bool UpdateSelectedDevices(DeviceList& list, const DocumentFor& documentFor, Operator& op,
                           const SerialSettings& settings, const RowObserver& rowChanged = {},
                           int parallel = 1, const CancelFlag* walkCancel = nullptr);

// Reads the information of every checked row in turn and writes each outcome into its Status.
bool CheckDeviceInformation(DeviceList& list, const DocumentFor& documentFor,
                            const SerialSettings& settings, const RowObserver& rowChanged = {},
                            const CancelFlag* walkCancel = nullptr);

// Updates one row as the walk does; returns whether it succeeded.
bool UpdateRow(DeviceList& list, std::size_t row, CVelUpdateDoc& doc,
               const SerialSettings& settings, const RowObserver& rowChanged = {});

constexpr const char* kLoadHexFileFirst = "Load the Hex File !";
constexpr const char* kDeviceUpdating = "Device updating ...";
constexpr const char* kDeviceChecking = "Device checking ...";

}  // namespace vel
