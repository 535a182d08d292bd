// Every kept fuzz input (the seeds and the inputs of findings) runs through its target again,
// and the device scripts play back what the simulated device answered.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DeviceScript.h"
#include "FuzzTargets.h"
#include "common/Strings.h"
#include "devices/DeviceOperations.h"
#include "engine/DeviceIdentity.h"
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

// A device-reply seed: its name, the scenario it picks and its script.
struct DeviceSeed {
  std::string name;
  const DeviceScenario* scenario;
  std::vector<std::uint8_t> script;
};

std::optional<DeviceSeed> ReadDeviceSeed(const fs::path& path) {
  const auto bytes = ReadBytes(path);
  if (bytes.empty()) return std::nullopt;
  return DeviceSeed{path.filename().string(), &ScenarioOfByte(DeviceScenarios(), bytes[0]),
                    std::vector<std::uint8_t>(bytes.begin() + 1, bytes.end())};
}

// The seed of that name in the device-reply seeds.
std::optional<DeviceSeed> NamedDeviceSeed(const std::string& name) {
  return ReadDeviceSeed(fs::path(ZANDOR_SOURCE_DIR) / "fuzz/corpus/device-reply" / name);
}

// The device-reply seeds recorded without faults.
std::vector<DeviceSeed> CleanDeviceSeeds() {
  std::vector<DeviceSeed> seeds;
  for (const auto& path : KeptInputs("DeviceReplyFuzz")) {
    const std::string name = path.filename().string();
    if (path.parent_path().filename() != "device-reply") continue;
    const bool clean = name.ends_with("-update-faults0") || name.ends_with("-check");
    if (!clean) continue;
    if (auto seed = ReadDeviceSeed(path)) seeds.push_back(std::move(*seed));
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
    if (seed.scenario->action == vel::Action::kCheck) {
      EXPECT_EQ(status, vel::status::kCheckAccepted);
    } else {
      EXPECT_TRUE(vel::IsUpdateSuccess(status)) << vel::LoadString(status);
    }
  }
}

TEST(DeviceScripts, AnUpdateWhoseDeviceFallsSilentPartWayNeverSucceeds) {
  for (const auto& seed : CleanDeviceSeeds()) {
    if (seed.scenario->action != vel::Action::kUpdate) continue;
    for (int eighth = 1; eighth < 8; ++eighth) {
      const std::size_t cut = seed.script.size() * static_cast<std::size_t>(eighth) / 8;
      SCOPED_TRACE(seed.name + " cut at " + std::to_string(cut));
      ScriptedPeer peer(seed.script.data(), cut);
      EXPECT_FALSE(vel::IsUpdateSuccess(RunScenario(*seed.scenario, peer)));
    }
  }
}

// Where each answer of a script begins, for scripts whose reads ask no "bytes waiting" question.
std::vector<std::size_t> AnswerOffsets(const std::vector<std::uint8_t>& script, std::size_t count) {
  std::vector<std::size_t> offsets;
  for (std::size_t at = 0; at < script.size() && offsets.size() < count; at += 1 + script[at]) {
    offsets.push_back(at);
  }
  return offsets;
}

TEST(DeviceScripts, AnyByteOfTheSerialNumberChangedFailsTheInformationBlocksChecksum) {
  const auto t12 = NamedDeviceSeed("T12-update-faults0");
  ASSERT_TRUE(t12.has_value());
  // A multi-unit device's answers: reply, then the information block: unit count, unit header,
  // serial number, fixed part, checksum.
  const auto answers = AnswerOffsets(t12->script, 6);
  ASSERT_EQ(answers.size(), 6u);
  ASSERT_EQ(t12->script[answers[3]], vel::kSerialNumberSize);
  const auto at = [&](std::size_t offset) { return t12->script.begin() + offset; };
  const std::vector<std::uint8_t> reply(at(0), at(answers[1]));
  const std::vector<std::uint8_t> block(at(answers[1]), at(answers[5] + 2));
  // The device answers each of the engine's three attention bytes and sends the same block each
  // of the two times it is asked for it, then falls silent.
  const auto sentEveryTime = [&](const std::vector<std::uint8_t>& b) {
    std::vector<std::uint8_t> script;
    for (int pass = 0; pass < vel::kIdentifyPasses; ++pass) {
      script.insert(script.end(), reply.begin(), reply.end());
      for (int ask = 0; ask < vel::kDeviceInfoTries; ++ask)
        script.insert(script.end(), b.begin(), b.end());
    }
    return script;
  };
  const std::size_t serialAt = answers[3] + 1 - answers[1];
  for (std::size_t i = serialAt; i < serialAt + vel::kSerialNumberSize; ++i) {
    auto changed = block;
    changed[i] ^= 0x01;
    const auto script = sentEveryTime(changed);
    ScriptedPeer peer(script.data(), script.size());
    EXPECT_EQ(RunScenario(*t12->scenario, peer), vel::ids::kReadChecksumIncorrect) << i;
  }
  const auto intact = sentEveryTime(block);
  ScriptedPeer peer(intact.data(), intact.size());
  EXPECT_NE(RunScenario(*t12->scenario, peer), vel::ids::kReadChecksumIncorrect);
}

TEST(DeviceScripts, BlockErrorsPlayBackAsTheFamilyHandlesThem) {
  const auto play = [](const std::string& name) {
    const auto seed = NamedDeviceSeed(name);
    EXPECT_TRUE(seed.has_value()) << name;
    if (!seed) return 0;
    ScriptedPeer peer(seed->script.data(), seed->script.size());
    return RunScenario(*seed->scenario, peer);
  };
  // A programming error and an erase error: the 64 KiB procedure sends the block again, the
  // 128 KiB procedure stops.
  EXPECT_TRUE(vel::IsUpdateSuccess(play("T1-update-faults1")));
  EXPECT_EQ(play("T2-update-faults1"), vel::ids::kUpdateFailed);
}

TEST(DeviceScripts, TheScenarioBytesHighBitsAreTheOperatorsChoices) {
  const auto seed = NamedDeviceSeed("T1-check");
  ASSERT_TRUE(seed.has_value()) << "no T1-check seed";
  const auto declined = OperatorChoices::FromByte(0x40);
  EXPECT_TRUE(declined.declineAll && !declined.acceptUnknown);
  ScriptedPeer peer(seed->script.data(), seed->script.size());
  EXPECT_EQ(RunScenario(*seed->scenario, peer, declined), vel::status::kCheckDeclined);
  ScriptedPeer again(seed->script.data(), seed->script.size());
  EXPECT_EQ(RunScenario(*seed->scenario, again), vel::status::kCheckAccepted);
}

TEST(DeviceScripts, ARecordedExchangePlaysBackToTheSameOutcome) {
  for (const auto& scenario : UpdateScenarios()) {
    if (scenario.name != "T12-update" && scenario.name != "T1-update") continue;
    SCOPED_TRACE(scenario.name);
    const Recording recording = RecordScenario(scenario, 1);
    ASSERT_GT(recording.transferStart, 0u);
    ASSERT_LT(recording.transferStart, recording.script.size());
    ScriptedPeer peer(recording.script.data(), recording.script.size());
    EXPECT_EQ(RunScenario(scenario, peer), recording.statusCode);
    EXPECT_TRUE(peer.Spent());
    // The identification alone is the whole recording's beginning, and ends where it begins
    // its transfer.
    const Recording identification = RecordScenario(scenario, 1, true);
    EXPECT_EQ(identification.transferStart, recording.transferStart);
    EXPECT_EQ(identification.script,
              std::vector<std::uint8_t>(recording.script.begin(),
                                        recording.script.begin() + recording.transferStart));
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

TEST(DeviceScripts, ARecordingHoldsEachAnswerAsScriptedPeerTakesIt) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  RecordingPeer recorder(fds[0], vel::SystemClock());
  const std::uint8_t answer[] = {0xC2, 0x01};
  ASSERT_EQ(::send(fds[1], answer, sizeof answer, 0), 2);
  std::uint8_t buffer[4] = {};
  EXPECT_TRUE(recorder.ReadableNow());
  EXPECT_EQ(recorder.Read(buffer, 0, -1), 0);  // asks for nothing: takes no answer
  EXPECT_EQ(recorder.Read(buffer, 4, 0), 2);   // what came within the limit
  EXPECT_FALSE(recorder.ReadableNow());
  recorder.ProcedureBegins();
  EXPECT_EQ(recorder.Read(buffer, 1, 0), 0);
  const std::vector<std::uint8_t> expected = {1, 2, 0xC2, 0x01, 0, 0};
  EXPECT_EQ(recorder.Script(), expected);
  EXPECT_EQ(recorder.TransferStart(), 5u);  // the read after the procedure began
  ScriptedPeer player(recorder.Script().data(), recorder.Script().size());
  EXPECT_TRUE(player.ReadableNow());
  EXPECT_EQ(player.Read(buffer, 4, -1), 2);
  EXPECT_FALSE(player.ReadableNow());
  EXPECT_EQ(player.Read(buffer, 1, -1), 0);
  EXPECT_TRUE(player.Spent());
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace zandor::fuzz
