#include "devices/DeviceListMerge.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>

#include "common/AtomicFile.h"

namespace vel {

namespace {

constexpr mode_t kNewListMode = 0600;  // the list holds keys

using RowKey = std::tuple<std::string, std::string, std::string, std::string>;

RowKey KeyOf(const DeviceEntry& row) { return {row.name, row.address, row.port, row.key}; }

std::map<RowKey, int> Counts(const std::vector<DeviceEntry>& rows) {
  std::map<RowKey, int> counts;
  for (const DeviceEntry& row : rows) ++counts[KeyOf(row)];
  return counts;
}

int CountOf(const std::map<RowKey, int>& counts, const RowKey& key) {
  const auto found = counts.find(key);
  return found == counts.end() ? 0 : found->second;
}

// How many copies of a row the merge keeps: a side that left the count as it was takes the other
// side's; when both changed it the same way, the larger change; when they went opposite ways,
// both changes.
int MergedCount(int base, int mine, int theirs) {
  if (mine == base) return theirs;
  if (theirs == base) return mine;
  if ((mine > base) == (theirs > base))
    return mine > base ? std::max(mine, theirs) : std::min(mine, theirs);
  return std::max(0, mine + theirs - base);
}

}  // namespace

std::vector<DeviceEntry> MergeDeviceRows(const std::vector<DeviceEntry>& base,
                                         const std::vector<DeviceEntry>& mine,
                                         const std::vector<DeviceEntry>& theirs) {
  const std::map<RowKey, int> baseCounts = Counts(base);
  const std::map<RowKey, int> mineCounts = Counts(mine);
  const std::map<RowKey, int> theirCounts = Counts(theirs);
  std::map<RowKey, int> left;  // copies still to place
  for (const auto* counts : {&mineCounts, &theirCounts}) {
    for (const auto& [key, count] : *counts) {
      left[key] = MergedCount(CountOf(baseCounts, key), CountOf(mineCounts, key),
                              CountOf(theirCounts, key));
    }
  }
  std::vector<DeviceEntry> merged;
  for (const auto* rows : {&mine, &theirs}) {
    const bool fromFile = rows == &theirs;
    for (const DeviceEntry& row : *rows) {
      int& count = left[KeyOf(row)];
      if (count <= 0) continue;
      --count;
      merged.push_back(row);
      if (fromFile) {
        merged.back().checked = false;
        merged.back().status.clear();
        merged.back().succeeded = false;
      }
    }
  }
  return merged;
}

bool SameStoredRows(const std::vector<DeviceEntry>& a, const std::vector<DeviceEntry>& b) {
  return std::equal(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const DeviceEntry& x, const DeviceEntry& y) { return KeyOf(x) == KeyOf(y); });
}

Expected<std::vector<DeviceEntry>> SaveMergedList(const std::string& path,
                                                  const std::vector<DeviceEntry>& base,
                                                  const std::vector<DeviceEntry>& mine) {
  const auto lock = DeviceListLock::Acquire(path);
  if (!lock) return Result::Failed(lock.error());
  DeviceList onDisk;
  if (const Result loaded = onDisk.Load(path); !loaded) {
    return Result::Failed(loaded.error() + "; it is left as it is");
  }
  std::vector<DeviceEntry> rows = MergeDeviceRows(base, mine, onDisk.Rows());
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (rows[row].IsReadWhole()) continue;
    return Result::Failed(RowNote(row, rows[row]) +
                          "; the list is left as it is until those cells are set or the row is "
                          "removed");
  }
  const Result written =
      WriteFileAtomically(path, DeviceList::Encode(rows), kNewListMode, FileMode::kKeepExisting);
  if (!written) return written;
  return rows;
}

}  // namespace vel
