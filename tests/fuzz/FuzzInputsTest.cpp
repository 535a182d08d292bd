// Every kept fuzz input (the seeds and the inputs of findings) runs through its target again,
// and the device scripts play back what the simulated device answered.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DeviceScript.h"
#include "FuzzTargets.h"
#include "common/Strings.h"
#include "devices/DeviceOperations.h"
#include "engine/EngineTiming.h"

namespace zandor::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The kept inputs of a target: its seeds and the inputs that once made it fail.
std::vector<fs::path> KeptInputs(const std::string& targetName) {
  std::vector<fs::path> inputs;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(ZANDOR_SOURCE_DIR) / "fuzz" / folder / CorpusName(targetName);
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) inputs.push_back(entry.path());
  }
  return inputs;
}

TEST(FuzzInputs, EveryTargetHasSeedsAndRunsEachKeptInputClean) {
  for (const FuzzTarget& target : AllTargets()) {
    const auto inputs = KeptInputs(target.name);
    EXPECT_FALSE(inputs.empty()) << target.name << " has no seeds";
    for (const auto& path : inputs) {
      SCOPED_TRACE(path.string());
      const auto bytes = ReadBytes(path);
      EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
    }
  }
  EXPECT_EQ(CorpusName("DeviceReplyFuzz"), "device-reply");
}

// A device-reply seed recorded without faults: the scenario it picks and its script.
struct CleanSeed {
  std::string name;
  const DeviceScenario* scenario;
  std::vector<std::uint8_t> script;
};

std::vector<CleanSeed> CleanDeviceSeeds() {
  std::vector<CleanSeed> seeds;
  for (const auto& path : KeptInputs("DeviceReplyFuzz")) {
    const std::string name = path.filename().string();
    if (path.parent_path().filename() != "device-reply") continue;
    const bool clean = name.ends_with("-update-faults0") || name.ends_with("-check");
    if (!clean) continue;
    const auto bytes = ReadBytes(path);
    if (bytes.empty()) continue;
    const auto& scenarios = DeviceScenarios();
    seeds.push_back({name, &scenarios[bytes[0] % scenarios.size()],
                     std::vector<std::uint8_t>(bytes.begin() + 1, bytes.end())});
  }
  return seeds;
}

TEST(DeviceScripts, TheSimulatorsAnswersPlayBackToASuccessForEveryFamily) {
  const auto seeds = CleanDeviceSeeds();
  EXPECT_EQ(seeds.size(), DeviceScenarios().size());
  for (const auto& seed : seeds) {
    SCOPED_TRACE(seed.name);
    ScriptedPeer peer(seed.script.data(), seed.script.size());
    const int status = RunScenario(*seed.scenario, peer);
    if (seed.scenario->action == vel::kActionCheck) {
      EXPECT_EQ(status, vel::status::kCheckAccepted);
    } else {
      EXPECT_TRUE(vel::IsUpdateSuccess(status)) << vel::LoadString(status);
    }
  }
}

TEST(DeviceScripts, AnUpdateWhoseDeviceFallsSilentPartWayNeverSucceeds) {
  for (const auto& seed : CleanDeviceSeeds()) {
    if (seed.scenario->action != vel::kActionUpdate) continue;
    for (int eighth = 1; eighth < 8; ++eighth) {
      const std::size_t cut = seed.script.size() * static_cast<std::size_t>(eighth) / 8;
      SCOPED_TRACE(seed.name + " cut at " + std::to_string(cut));
      ScriptedPeer peer(seed.script.data(), cut);
      EXPECT_FALSE(vel::IsUpdateSuccess(RunScenario(*seed.scenario, peer)));
    }
  }
}

TEST(DeviceScripts, ARecordedExchangePlaysBackToTheSameOutcome) {
  for (const auto& scenario : UpdateScenarios()) {
    if (scenario.name != "T12-update" && scenario.name != "T1-update") continue;
    SCOPED_TRACE(scenario.name);
    const Recording recording = RecordScenario(scenario, 1);
    ASSERT_GT(recording.workerStart, 0u);
    ASSERT_LT(recording.workerStart, recording.script.size());
    ScriptedPeer peer(recording.script.data(), recording.script.size());
    EXPECT_EQ(RunScenario(scenario, peer), recording.statusCode);
    EXPECT_TRUE(peer.Spent());
  }
}

TEST(DeviceScripts, EachReadTakesOneAnswerCutToWhatItAskedFor) {
  const std::uint8_t script[] = {2, 'a', 'b', 0, 1, 4, 'x', 'y'};
  ScriptedPeer peer(script, sizeof script);
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(peer.Read(buffer, 4, -1), 2);
  EXPECT_EQ(std::string(buffer, buffer + 2), "ab");
  EXPECT_EQ(peer.Read(buffer, 4, -1), 0);  // a silent read
  EXPECT_TRUE(peer.ReadableNow());
  EXPECT_EQ(peer.Read(buffer, 1, -1), 1);  // four offered, one asked for
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_FALSE(peer.Spent());
  EXPECT_EQ(peer.Read(buffer, 4, -1), 0);  // 'y' as a length with nothing after it
  EXPECT_TRUE(peer.Spent());
  EXPECT_FALSE(peer.ReadableNow());
  EXPECT_EQ(peer.Read(buffer, 4, -1), 0);
}

}  // namespace
}  // namespace zandor::fuzz
