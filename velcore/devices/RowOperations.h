#pragma once

// One device operation of a row on a document of its own: the core's own interface below the
// job facade (front ends run device operations through DeviceJobs); tests reach it here.
#include "devices/DeviceOperations.h"
#include "engine/VelUpdateDoc.h"
#include "link/SerialSettings.h"

namespace vel {

// Updates one device with the file loaded in the document as the multi-device walk does:
// encryption off, the link opened, the engine's update run to its end, the link closed.
DeviceResult RunUpdate(CVelUpdateDoc& doc, const DeviceTarget& target,
                       const SerialSettings& settings);
// The same for another of the engine's actions that send the file.
DeviceResult RunAction(CVelUpdateDoc& doc, const DeviceTarget& target,
                       const SerialSettings& settings, Action action);
// Reads one device's information as the information walk does.
DeviceResult RunCheck(CVelUpdateDoc& doc, const DeviceTarget& target,
                      const SerialSettings& settings);
// RunUpdate with the file read again first (every device starts from a freshly read file); the
// status code.
int UpdateDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings);
int CheckDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings);

}  // namespace vel
