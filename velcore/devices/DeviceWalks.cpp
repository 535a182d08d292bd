#include "devices/DeviceWalks.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
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
                           int parallel, const CancelFlag* walkCancel) {
  std::vector<std::size_t> rows;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    if (list.Row(row).checked) rows.push_back(row);
  }
  if (!rows.empty()) {
    const FirmwareFile& file = documentFor(rows.front()).File();
    if (!file.HasFile()) {
      op.ShowMessage(kLoadHexFileFirst);
      return false;
    }
    if (const auto defect = file.FirstDefect()) {
      op.ShowMessage(LoadString(ids::kFileFailsTest) + "\n" + DescribeDefect(*defect));
      return false;
    }
  }
  // Rows start from the top of the list; with several at once, a row waits while another on the
  // same port or endpoint runs.
  std::mutex mutex;
  std::condition_variable linkFreed;
  std::set<std::string> busyLinks;
  std::vector<bool> started(rows.size(), false);
  std::atomic<bool> allSucceeded{true};
  const auto nextRow = [&](std::unique_lock<std::mutex>& lock) -> std::optional<std::size_t> {
    for (;;) {
      if (walkCancel != nullptr && walkCancel->IsRequested()) return std::nullopt;
      bool waiting = false;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        if (started[i]) continue;
        waiting = true;
        if (busyLinks.count(LinkOfRow(list.Row(rows[i]))) > 0) continue;
        started[i] = true;
        busyLinks.insert(LinkOfRow(list.Row(rows[i])));
        return rows[i];
      }
      if (!waiting) return std::nullopt;
      linkFreed.wait(lock);
    }
  };
  const auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (const auto row = nextRow(lock)) {
      const std::string link = LinkOfRow(list.Row(*row));
      lock.unlock();
      if (!UpdateRow(list, *row, documentFor(*row), settings, rowChanged)) allSucceeded = false;
      lock.lock();
      busyLinks.erase(link);
      linkFreed.notify_all();
    }
  };
  const std::size_t threads =
      std::min<std::size_t>(rows.size(), static_cast<std::size_t>(std::max(parallel, 1)));
  std::vector<std::thread> workers;
  for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  const bool cancelled = walkCancel != nullptr && walkCancel->IsRequested();
  if (allSucceeded && !cancelled) op.ShowMessage(LoadString(ids::kUpdateSuccessful));
  return allSucceeded && !cancelled;
}

bool CheckDeviceInformation(DeviceList& list, const DocumentFor& documentFor,
                            const SerialSettings& settings, const RowObserver& rowChanged,
                            const CancelFlag* walkCancel) {
  bool allSucceeded = true;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    if (!list.Row(row).checked) continue;
    if (walkCancel != nullptr && walkCancel->IsRequested()) return false;
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
