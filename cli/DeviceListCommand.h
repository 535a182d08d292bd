#pragma once

#include <string>
#include <vector>

#include "Cli.h"
#include "devices/DeviceList.h"

namespace zandor {

// Reads a device list for a command, telling `io.err` why it cannot and what it found amiss
// (rows not read whole); false when it cannot be read (or is missing, unless `ifMissing` takes
// that as an empty list).
bool LoadList(const std::string& path, vel::DeviceList& list, Streams io,
              vel::DeviceList::IfMissing ifMissing);

int DevicesCommand(const std::vector<std::string>& words, Streams io);

}  // namespace zandor
