#include "DeviceScript.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "FuzzTargets.h"
#include "SampleGen.h"
#include "SimDevice.h"
#include "SimOptions.h"
#include "image/SharedFirmware.h"
#include "support/CutSamples.h"
#include "support/EngineFakes.h"
#include "support/Soak.h"
#include "support/SocketPairDevice.h"
#include "support/VirtualClock.h"

namespace zandor::fuzz {

namespace {

constexpr int kMaxAnswer = 255;     // one script answer's length byte
constexpr int kRecordWaitMs = 200;  // how long a recorded read waits for the device
constexpr std::size_t kFuzzBytesPerSegment = 0x400;  // 64 records: short transfers

// The clock of every run: the engine's pauses, the recorded device's delays and silences and the
// countdowns of a silent script cost no real time.
vel::testing::VirtualClock& RunClock() {
  static vel::testing::VirtualClock clock;
  return clock;
}

// What a family's runs share: the one load of the file with its memory maps, as the rows of a
// walk share it (a run that writes the serial number writes it into a copy of its own). Each run
// has a document and front end of its own, so that what a run allocates it also frees and the
// leak check has nothing to look into.
struct Engine {
  std::shared_ptr<vel::SharedFirmware> loads = std::make_shared<vel::SharedFirmware>();
  std::string path;
};

Engine& EngineFor(std::size_t family) {
  static const vel::testing::CutSamples files(kFuzzBytesPerSegment);
  static std::map<std::size_t, std::unique_ptr<Engine>> engines;
  auto& engine = engines[family];
  if (!engine) {
    engine = std::make_unique<Engine>();
    engine->path = files.Path(vel::testing::SoakFamilies()[family].sample);
  }
  return *engine;
}

void ApplyFaults(std::uint32_t faultSeed, sim::SimFaults* faults) {
  faults->seed = faultSeed;
  switch (faultSeed) {
    case 1:
      faults->blockResults = {{0, 0xF7}, {2, 0xF6}};
      break;
    case 2:
      faults->corruptAck = 0.05;
      faults->lostAckOfFrames = {1, 4};
      break;
    case 3:
      faults->rejectChecksum = true;
      break;
    default:
      break;
  }
}

}  // namespace

int ScriptedPeer::Read(std::uint8_t* buffer, int count, int) {
  if (pos_ >= size_ || count <= 0) return 0;
  const std::size_t wanted = data_[pos_++];
  const std::size_t n = std::min({wanted, static_cast<std::size_t>(count), size_ - pos_});
  std::copy(data_ + pos_, data_ + pos_ + n, buffer);
  pos_ += n;
  return static_cast<int>(n);
}

bool ScriptedPeer::ReadableNow() { return pos_ < size_ && (data_[pos_++] & 1) != 0; }

int RecordingPeer::Read(std::uint8_t* buffer, int count, int limitMs) {
  if (count <= 0 || ended_) return 0;  // no answer taken, as ScriptedPeer takes none
  count = std::min(count, kMaxAnswer);
  const int waitMs = limitMs >= 0 ? std::min(limitMs, kRecordWaitMs) : kRecordWaitMs;
  const int got = vel::testing::ReceiveWithin(clock_, fd_, buffer, count, waitMs);
  script_.push_back(static_cast<std::uint8_t>(got));
  script_.insert(script_.end(), buffer, buffer + got);
  return got;
}

int RecordingPeer::Write(const std::uint8_t* buffer, int count) {
  if (ended_) return count;
  return vel::testing::SendAll(fd_, buffer, count);
}

bool RecordingPeer::ReadableNow() {
  if (ended_) return false;
  const bool readable = (clock_.WaitForInput(fd_, std::chrono::milliseconds(0)) & POLLIN) != 0;
  script_.push_back(readable ? 1 : 0);
  return readable;
}

const std::vector<DeviceScenario>& DeviceScenarios() {
  static const std::vector<DeviceScenario> scenarios = [] {
    std::vector<DeviceScenario> all;
    const auto& families = vel::testing::SoakFamilies();
    for (std::size_t f = 0; f < families.size(); ++f) {
      std::string name = families[f].name;
      std::replace(name.begin(), name.end(), ' ', '-');
      name.erase(
          std::remove_if(name.begin(), name.end(), [](char c) { return c == '(' || c == ')'; }),
          name.end());
      all.push_back({name + "-update", f, vel::Action::kUpdate});
      // A check identifies; the families woken by a byte of their own answer no identification.
      sim::SimConfig config;
      sim::ApplyFamily(families[f].family, &config);
      if (!config.protocols.empty()) all.push_back({name + "-check", f, vel::Action::kCheck});
    }
    return all;
  }();
  return scenarios;
}

const std::vector<DeviceScenario>& UpdateScenarios() {
  static const std::vector<DeviceScenario> updates = [] {
    std::vector<DeviceScenario> out;
    for (const auto& s : DeviceScenarios()) {
      if (s.action == vel::Action::kUpdate) out.push_back(s);
    }
    return out;
  }();
  return updates;
}

int RunScenario(const DeviceScenario& scenario, vel::LinkPeer& peer, OperatorChoices choices) {
  Engine& engine = EngineFor(scenario.family);
  vel::testing::QuietDisplay display;
  vel::testing::ScriptedOperator op;
  op.acceptUnknown = choices.acceptUnknown;
  op.declineAll = choices.declineAll;
  vel::CVelUpdateDoc doc(display, op);
  doc.ShareLoads(engine.loads);
  // No pauses; the countdowns keep their length, which a silent script passes through in as
  // many empty reads.
  doc.Timing() = vel::EngineTiming{0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  doc.SetClock(RunClock());
  doc.SetSerialNumberOptional(choices.serialNumberOptional);
  Require(doc.OnOpenDocument(engine.path).ok());
  const bool tcp = vel::testing::SoakFamilies()[scenario.family].tcp;
  doc.SetLinkKind(tcp ? vel::LinkKind::kTcp : vel::LinkKind::kSerial);
  doc.Link().AttachPeer(&peer);
  const int status = doc.DispatchUpdate(scenario.action).statusCode;
  doc.Link().AttachPeer(nullptr);
  const vel::DeviceIdentity& identity = doc.Identity();
  Require(identity.unitCount <= vel::kMaxUnits);
  Require(identity.auxiliaryCount <= vel::kAuxiliaryVersionCount);
  return status;
}

Recording RecordScenario(const DeviceScenario& scenario, std::uint32_t faultSeed,
                         bool identificationOnly) {
  const auto& family = vel::testing::SoakFamilies()[scenario.family];
  sim::SimConfig config;
  sim::ApplyFamily(family.family, &config);
  if (!family.auxiliary.empty()) config.units[0].auxiliary = family.auxiliary;
  ApplyFaults(faultSeed, &config.faults);
  sim::SimDevice device(config);

  Recording recording;
  {
    vel::testing::SocketPairDevice serving(device, &RunClock());
    RecordingPeer peer(serving.EngineEnd(), RunClock(), identificationOnly);
    recording.statusCode = RunScenario(scenario, peer);
    recording.script = peer.Script();
    recording.transferStart = std::min(peer.TransferStart(), recording.script.size());
  }
  recording.violations = device.Violations();
  return recording;
}

}  // namespace zandor::fuzz
