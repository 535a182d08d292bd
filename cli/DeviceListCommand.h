#pragma once

#include <string>
#include <vector>

#include "Cli.h"
#include "devices/DeviceList.h"

namespace zandor {

// What a command tells of rows the list file does not hold whole: each when it is read, or
// nothing there because writing the list names them if they are still there.
enum class ReadNotes { kTell, kLeaveToTheWrite };

// Reads a device list for a command, telling `io.err` why it cannot and, unless `notes` says
// otherwise, what it found amiss (rows not read whole); false when it cannot be read (or is
// missing, unless `ifMissing` takes that as an empty list).
bool LoadList(const std::string& path, vel::DeviceList& list, Streams io,
              vel::DeviceList::IfMissing ifMissing, ReadNotes notes = ReadNotes::kTell);

int DevicesCommand(const std::vector<std::string>& words, Streams io);

}  // namespace zandor
