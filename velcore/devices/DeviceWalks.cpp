#include "devices/DeviceWalks.h"

#include "common/Strings.h"
#include "link/Encryption.h"

namespace vel {

std::optional<DeviceTarget> TargetForRow(const DeviceEntry& row, std::string* problem) {
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
    const auto key = NormaliseKey(row.key);
    if (row.key.size() != kKeyColumnLength || !key) {
      *problem = LoadString(ids::kInvalidEncryptionKey);
      return std::nullopt;
    }
    target.key = *key;
  }
  return target;
}

std::string LinkOfRow(const DeviceEntry& row) {
  return row.IsSerial() ? "serial:COM" + row.port : "tcp:" + row.address + ":" + row.port;
}

bool UpdateRow(DeviceList& list, std::size_t row, CVelUpdateDoc& doc,
               const SerialSettings& settings, const RowObserver& rowChanged) {
  const auto notify = [&] {
    if (rowChanged) rowChanged(row);
  };
  list.SetStatus(row, kDeviceUpdating);
  notify();
  std::string problem;
  const auto target = TargetForRow(list.Row(row), &problem);
  bool success = false;
  if (!target) {
    doc.GetConsole().AppendMessage(list.Row(row).name + ": " + problem);
    list.SetStatus(row, problem);
  } else {
    const int status = UpdateDevice(doc, *target, settings);
    success = IsUpdateSuccess(status);
    list.SetStatus(row, UpdateStatusText(status));
  }
  notify();
  return success;
}

bool UpdateSelectedDevices(DeviceList& list, CVelUpdateDoc& doc, const SerialSettings& settings,
                           const RowObserver& rowChanged) {
  if (!doc.File().HasFile()) {
    doc.GetOperator().ShowMessage(kLoadHexFileFirst);
    return false;
  }
  bool allSucceeded = true;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    if (!list.Row(row).checked) continue;
    allSucceeded = UpdateRow(list, row, doc, settings, rowChanged) && allSucceeded;
  }
  if (allSucceeded) doc.GetOperator().ShowMessage(LoadString(ids::kUpdateSuccessful));
  return allSucceeded;
}

bool CheckDeviceInformation(DeviceList& list, CVelUpdateDoc& doc, const SerialSettings& settings,
                            const RowObserver& rowChanged) {
  bool allSucceeded = true;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    if (!list.Row(row).checked) continue;
    list.SetStatus(row, kDeviceChecking);
    if (rowChanged) rowChanged(row);
    std::string problem;
    const auto target = TargetForRow(list.Row(row), &problem);
    int status = -1;
    if (target) {
      status = CheckDevice(doc, *target, settings);
      list.SetStatus(row, CheckStatusText(status));
    } else {
      list.SetStatus(row, problem);
    }
    allSucceeded = allSucceeded && status == 1;
    if (rowChanged) rowChanged(row);
  }
  return allSucceeded;
}

}  // namespace vel
