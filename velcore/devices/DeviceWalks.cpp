#include "devices/DeviceWalks.h"

#include "common/Strings.h"
#include "link/KeyText.h"

namespace vel {

std::optional<DeviceTarget> TargetForRow(const DeviceEntry& row, std::string* problem) {
  // A cell the list file never held (it ended inside the row) is no way to reach a device.
  const unsigned reach = DeviceEntry::CellBit(DeviceColumn::kAddress) |
                         DeviceEntry::CellBit(DeviceColumn::kPort) |
                         DeviceEntry::CellBit(DeviceColumn::kKey);
  if ((row.missingCells & reach) != 0) {
    *problem = UnreadCellsText(row);
    return std::nullopt;
  }
  DeviceTarget target;
  if (row.IsSerial()) {
    target.kind = LinkKind::kSerial;
    target.portName = "COM" + row.port;
    return target;
  }
  target.kind = LinkKind::kTcp;
  target.address = row.address;
  target.port = row.port;
  if (row.key != kNoEncryption) {
    // A key from the file is checked here, when it is used, and never given to the cipher
    // unless it is sixteen dashed pairs.
    if (!IsDashedKey(row.key)) {
      *problem = LoadString(ids::kInvalidEncryptionKey);
      return std::nullopt;
    }
    target.key = *KeyDigits(row.key);
  }
  return target;
}

std::string LinkOfRow(const DeviceEntry& row) {
  return row.IsSerial() ? "serial:COM" + row.port : "tcp:" + row.address + ":" + row.port;
}

JobRow RowOfList(std::size_t row, const DeviceEntry& entry) {
  JobRow job;
  job.row = row;
  job.target = TargetForRow(entry, &job.problem);
  job.link = LinkOfRow(entry);
  return job;
}

}  // namespace vel
