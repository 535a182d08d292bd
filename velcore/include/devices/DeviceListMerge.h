#pragma once

#include <string>
#include <vector>

#include "devices/DeviceList.h"

namespace vel {

// Two programs edit one list file: this one holds `mine`, edited since it read `base` from the
// file, while the file now holds `theirs`. The merge keeps every change of either side: a row
// one side added stays, a row one side deleted goes unless the other side changed it (a changed
// row is a new row, so both versions stay), and nothing the operator did not delete is lost.
// The rows of `mine` keep their order, tick and status; rows only the file holds follow them, in
// the file's order, unticked.
std::vector<DeviceEntry> MergeDeviceRows(const std::vector<DeviceEntry>& base,
                                         const std::vector<DeviceEntry>& mine,
                                         const std::vector<DeviceEntry>& theirs);

// Whether two row lists store the same text (ticks and statuses are not stored).
bool SameStoredRows(const std::vector<DeviceEntry>& a, const std::vector<DeviceEntry>& b);

// One save: under the list's lock, the file as it stands now is read, merged with `mine` (the
// edits since `base`) and written back keeping the file's mode (0600 for a new file); the rows
// the file holds afterwards. A merge that holds a row not read whole (cut, or the file ending
// inside it) writes nothing: that would put cells into the file that nobody wrote. The lock may
// wait on another program: call it off any thread that must stay responsive.
Expected<std::vector<DeviceEntry>> SaveMergedList(const std::string& path,
                                                  const std::vector<DeviceEntry>& base,
                                                  const std::vector<DeviceEntry>& mine);

}  // namespace vel
