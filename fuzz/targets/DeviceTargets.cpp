// A device's answers, read where the engine reads them: the first byte picks the family, the
// action and the link (its low five bits) and the operator's choices (the high three); the rest
// is the device's script.
#include <map>
#include <vector>

#include "DeviceScript.h"
#include "FuzzTargets.h"

namespace zandor::fuzz {

// The whole exchange: identification, the information block and its checksum, the unit-select
// answer and the transfer.
int DeviceReplyTarget(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto& scenarios = DeviceScenarios();
  ScriptedPeer peer(data + 1, size - 1);
  RunScenario(ScenarioOfByte(scenarios, data[0]), peer, OperatorChoices::FromByte(data[0]));
  return 0;
}

// The answers during a transfer: block results, 0xFD, echoes, the loader's 27-byte reply. The
// simulated device's identification (recorded once per family) comes first, so that every run
// reaches the transfer.
int TransferReplyTarget(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static std::map<std::size_t, std::vector<std::uint8_t>> identifications;
  const auto& scenarios = UpdateScenarios();
  const DeviceScenario& scenario = ScenarioOfByte(scenarios, data[0]);
  auto& script = identifications[scenario.family];
  if (script.empty()) {
    const Recording recording = RecordScenario(scenario, 0, true);
    script.assign(recording.script.begin(), recording.script.begin() + recording.transferStart);
  }
  std::vector<std::uint8_t> whole = script;
  whole.insert(whole.end(), data + 1, data + size);
  ScriptedPeer peer(whole.data(), whole.size());
  RunScenario(scenario, peer, OperatorChoices::FromByte(data[0]));
  return 0;
}

}  // namespace zandor::fuzz
