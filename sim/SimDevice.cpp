#include "SimDevice.h"

#include <algorithm>

#include "SimSession.h"
#include "common/AtomicFile.h"

namespace sim {

SimDevice::SimDevice(SimConfig config)
    : config_(std::move(config)), plans_(PlansFor(config_)), random_(config_.faults.seed) {}

SimDevice::~SimDevice() = default;

void SimDevice::OnViolation(std::function<void(const std::string&)> report) {
  report_ = std::move(report);
}

void SimDevice::Serve(SimChannel& channel) {
  if (!config_.key.empty() && !channel.StartCipher(config_.key)) return;
  const bool cutBefore = PowerWasCut();
  Session(*this, channel).Run();
  // A serial line stays: the restarting device hears nothing until the host has given up.
  if (!cutBefore && PowerWasCut() && channel.IsPty())
    channel.DiscardUntilQuiet(config_.faults.restartQuietMs);
}

void SimDevice::Restore(DeviceMemory memory) {
  std::lock_guard<std::mutex> lock(mutex_);
  memory_ = std::move(memory);
}

DeviceMemory SimDevice::Memory() const { return Locked(memory_); }

bool SimDevice::PowerWasCut() const { return Locked(powerCut_); }

std::string SimDevice::StateError() const { return Locked(stateError_); }

bool SimDevice::PowerFailsAt(int frameNumber) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (powerCut_ || frameNumber + 1 != config_.faults.powerCutAtFrame) return false;
    powerCut_ = true;
  }
  KeepState();
  return true;
}

void SimDevice::KeepState() {
  if (config_.stateFile.empty()) return;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    text = FormatSimState(SimState{config_.units, config_.serialNumber, memory_});
  }
  const vel::Result written = vel::WriteFileAtomically(config_.stateFile, text, 0644);
  std::lock_guard<std::mutex> lock(mutex_);
  stateError_ = written.error();
}

void SimDevice::RunUpdatedFirmware(int unit) {
  if (config_.firmwareAfterUpdate.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unit < 0 || unit >= static_cast<int>(config_.units.size())) return;
    config_.units[static_cast<std::size_t>(unit)].firmware = config_.firmwareAfterUpdate;
  }
  KeepState();  // a restart runs the new firmware too
}

void SimDevice::Violation(const std::string& what) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    violations_.push_back(what);
  }
  if (report_) report_(what);
}

int SimDevice::Count(int* counter) {
  std::lock_guard<std::mutex> lock(mutex_);
  return (*counter)++;
}

bool SimDevice::Roll(double probability) {
  if (probability <= 0.0) return false;
  return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

std::vector<ProgrammedUnit> SimDevice::Programmed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {programmed_.begin(), programmed_.end()};
}

std::vector<std::string> SimDevice::Violations() const { return Locked(violations_); }

int SimDevice::FramesReceived() const { return Locked(frames_); }

int SimDevice::IdentificationsAnswered() const { return Locked(identifications_); }

std::vector<std::uint8_t> SimDevice::IdleBytes() const { return Locked(idleBytes_); }

int SimDevice::TextLinesTaken() const { return Locked(textLines_); }

int SimDevice::EndOfBlocksReceived() const { return Locked(endOfBlocks_); }

int SimDevice::FaultsInjected() const { return Locked(faults_); }

std::vector<int> SimDevice::ChecksumsReceived() const { return Locked(checksums_); }

}  // namespace sim
