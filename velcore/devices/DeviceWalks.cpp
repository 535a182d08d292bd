#include "devices/DeviceWalks.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

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
    list.SetOutcome(row, problem, false);
  } else {
    const int status = UpdateDevice(doc, *target, settings);
    success = IsUpdateSuccess(status);
    list.SetOutcome(row, UpdateStatusText(status), success);
  }
  notify();
  return success;
}

bool UpdateSelectedDevices(DeviceList& list, const DocumentFor& documentFor, Operator& op,
                           const SerialSettings& settings, const RowObserver& rowChanged,
                           int parallel) {
  // The checked rows, grouped by the port or endpoint they use, in list order.
  std::vector<std::vector<std::size_t>> groups;
  std::map<std::string, std::size_t> groupOfLink;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    if (!list.Row(row).checked) continue;
    const auto [it, added] = groupOfLink.try_emplace(LinkOfRow(list.Row(row)), groups.size());
    if (added) groups.emplace_back();
    groups[it->second].push_back(row);
  }
  if (!groups.empty() && !documentFor(groups.front().front()).File().HasFile()) {
    op.ShowMessage(kLoadHexFileFirst);
    return false;
  }
  std::atomic<bool> allSucceeded{true};
  std::atomic<std::size_t> nextGroup{0};
  const auto work = [&] {
    for (std::size_t g = nextGroup++; g < groups.size(); g = nextGroup++) {
      for (std::size_t row : groups[g]) {
        if (!UpdateRow(list, row, documentFor(row), settings, rowChanged)) allSucceeded = false;
      }
    }
  };
  const std::size_t threads =
      std::min<std::size_t>(groups.size(), static_cast<std::size_t>(std::max(parallel, 1)));
  std::vector<std::thread> workers;
  for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  if (allSucceeded) op.ShowMessage(LoadString(ids::kUpdateSuccessful));
  return allSucceeded;
}

bool CheckDeviceInformation(DeviceList& list, const DocumentFor& documentFor,
                            const SerialSettings& settings, const RowObserver& rowChanged) {
  bool allSucceeded = true;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    if (!list.Row(row).checked) continue;
    list.SetStatus(row, kDeviceChecking);
    if (rowChanged) rowChanged(row);
    std::string problem;
    const auto target = TargetForRow(list.Row(row), &problem);
    int status = -1;
    if (target) {
      status = CheckDevice(documentFor(row), *target, settings);
      list.SetOutcome(row, CheckStatusText(status), status == 1);
    } else {
      list.SetOutcome(row, problem, false);
    }
    allSucceeded = allSucceeded && status == 1;
    if (rowChanged) rowChanged(row);
  }
  return allSucceeded;
}

}  // namespace vel
