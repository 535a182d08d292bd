// Loading a device list grows with its rows, not with their square: a list of 100,000 rows
// (every row with an address and a key of its own, the most the choice lists can hold) against
// ten times a list of 10,000, in interleaved pairs.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchSupport.h"
#include "common/AtomicFile.h"
#include "devices/DeviceList.h"

namespace {

// A list ten times as long takes at most 30 times as long: linear work, with room for the long
// list's choice index no longer fitting the processor's caches; loading in quadratic time gives
// about 100 times.
constexpr double kTarget = 3.0;
constexpr int kShortRows = 10000;
constexpr int kLongRows = 100000;

std::string StoredList(int rows) {
  std::vector<vel::DeviceEntry> entries(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    vel::DeviceEntry& e = entries[static_cast<std::size_t>(i)];
    char address[32], key[64];
    std::snprintf(address, sizeof address, "10.%d.%d.%d", i >> 16, (i >> 8) & 0xFF, i & 0xFF);
    std::snprintf(key, sizeof key, "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-%02X-%02X-%02X", i >> 16,
                  (i >> 8) & 0xFF, i & 0xFF);
    e.name = "Device " + std::to_string(i);
    e.address = address;
    e.port = "3000";
    e.key = key;
  }
  return vel::DeviceList::Encode(entries);
}

void Load(const std::string& path, std::size_t rows) {
  vel::DeviceList list;
  if (!list.Load(path) || list.Count() != rows) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, "[RUNS]");
  const int runs = args.Number("RUNS", 5, 1, 10000);
  if (!args.Valid()) return 2;
  char dir[] = "/tmp/zandor-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string shortList = std::string(dir) + "/short.txt";
  const std::string longList = std::string(dir) + "/long.txt";
  vel::Result written = vel::WriteFileAtomically(shortList, StoredList(kShortRows), 0600);
  if (written) written = vel::WriteFileAtomically(longList, StoredList(kLongRows), 0600);
  if (!written) {
    std::fprintf(stderr, "cannot write the lists: %s\n", written.error().c_str());
    return 1;
  }
  bench::PairedTimes pairs;
  for (int i = 0; i <= runs; ++i) {
    const bench::Seconds longTime = bench::TimeOf([&] { Load(longList, kLongRows); });
    const bench::Seconds shortTime = bench::TimeOf([&] { Load(shortList, kShortRows); });
    if (i > 0) pairs.Add(longTime, 10 * shortTime);  // the first pair warms up
  }
  const bool met = pairs.Report("load 100,000 rows vs 10 x 10,000 rows", kTarget);
  std::remove(shortList.c_str());
  std::remove(longList.c_str());
  rmdir(dir);
  return met ? 0 : 1;
}
