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
  // Updates with each fault set (device-reply takes the clean run and the block errors),
  // checks clean.
  std::size_t update = 0;  // the scenario's index among the updates
  bool clean = true;       // the simulated device took every exchange
  for (std::size_t a = 0; a < DeviceScenarios().size(); ++a) {
    const DeviceScenario& scenario = DeviceScenarios()[a];
    const bool isUpdate = scenario.action == vel::Action::kUpdate;
    for (std::uint32_t faults = 0; faults < (isUpdate ? 4u : 1u); ++faults) {
      const Recording r = RecordScenario(scenario, faults);
      const std::string name =
          isUpdate ? scenario.name + "-faults" + std::to_string(faults) : scenario.name;
      std::printf("%-28s status %d, %zu script bytes, transfer from %zu\n", name.c_str(),
                  r.statusCode, r.script.size(), r.transferStart);
      for (const std::string& v : r.violations) {
        std::fprintf(stderr, "%s: protocol violation: %s\n", name.c_str(), v.c_str());
        clean = false;
      }
      if (faults < 2) WriteSeed(root / "device-reply" / name, a, r.script.begin(), r.script.end());
      if (isUpdate) {
        WriteSeed(root / "transfer-reply" / name, update, r.script.begin() + r.transferStart,
                  r.script.end());
      }
    }
    update += isUpdate;
  }
  return clean ? 0 : 1;
}
