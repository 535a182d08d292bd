// Writes the device targets' seeds: the simulated device's answers for every family, action and
// fault set, as the scripts DeviceReplyFuzz and TransferReplyFuzz read.
//   zandor-fuzz-seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "DeviceScript.h"
#include "engine/EngineTiming.h"

namespace {

void WriteSeed(const std::filesystem::path& path, std::size_t scenario,
               std::vector<std::uint8_t>::const_iterator begin,
               std::vector<std::uint8_t>::const_iterator end) {
  std::ofstream out(path, std::ios::binary);
  out.put(static_cast<char>(scenario));
  out.write(reinterpret_cast<const char*>(&*begin), end - begin);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zandor-fuzz-seeds CORPUS-DIR\n");
    return 2;
  }
  using namespace zandor::fuzz;
  const std::filesystem::path root = argv[1];
  std::filesystem::create_directories(root / "device-reply");
  std::filesystem::create_directories(root / "transfer-reply");
  const auto& all = DeviceScenarios();
  const auto& updates = UpdateScenarios();
  for (std::size_t u = 0; u < updates.size(); ++u) {
    for (std::uint32_t faults = 0; faults < 4; ++faults) {
      const Recording r = RecordScenario(updates[u], faults);
      const std::string name = updates[u].name + "-faults" + std::to_string(faults);
      std::printf("%-28s status %d, %zu script bytes, transfer from %zu\n", name.c_str(),
                  r.statusCode, r.script.size(), r.workerStart);
      WriteSeed(root / "transfer-reply" / name, u, r.script.begin() + r.workerStart,
                r.script.end());
      if (faults > 1) continue;
      for (std::size_t a = 0; a < all.size(); ++a) {
        if (all[a].name == updates[u].name)
          WriteSeed(root / "device-reply" / name, a, r.script.begin(), r.script.end());
      }
    }
  }
  for (std::size_t a = 0; a < all.size(); ++a) {
    if (all[a].action != vel::kActionCheck) continue;
    const Recording r = RecordScenario(all[a], 0);
    std::printf("%-28s status %d, %zu script bytes\n", all[a].name.c_str(), r.statusCode,
                r.script.size());
    WriteSeed(root / "device-reply" / all[a].name, a, r.script.begin(), r.script.end());
  }
  return 0;
}
