#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "engine/EngineTiming.h"
#include "link/DeviceLink.h"

namespace zandor::fuzz {

// A device that answers the engine from a script: every read takes one answer, a length byte
// followed by up to that many bytes (cut to what the read asked for and what the script still
// holds), and every question whether bytes are waiting takes one byte (odd: yes). Once the
// script is spent the device is silent. Writes go nowhere.
class ScriptedPeer final : public vel::LinkPeer {
 public:
  ScriptedPeer(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  int Read(std::uint8_t* buffer, int count, int limitMs) override;
  int Write(const std::uint8_t*, int count) override { return count; }
  bool ReadableNow() override;
  // Whether the engine asked for more than the script held.
  bool Spent() const { return pos_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// The script of a real exchange: relays the engine's bytes to a device and writes each answer
// it got into a script that ScriptedPeer plays back the same way. Reads are cut to 255 bytes.
class RecordingPeer final : public vel::LinkPeer {
 public:
  // `fd` is the engine's end of a connected socket pair; the reads wait on `clock`. With
  // `endAtProcedure` the device falls silent once a transfer procedure begins, and nothing more is
  // recorded: the identification alone, without the cost of a whole transfer.
  RecordingPeer(int fd, vel::Clock& clock, bool endAtProcedure = false)
      : fd_(fd), clock_(clock), endAtProcedure_(endAtProcedure) {}

  int Read(std::uint8_t* buffer, int count, int limitMs) override;
  int Write(const std::uint8_t* buffer, int count) override;
  bool ReadableNow() override;
  void ProcedureBegins() override {
    if (transferStart_ == SIZE_MAX) transferStart_ = script_.size();
    ended_ = endAtProcedure_;
  }

  // The script so far, and where the transfer procedure's first answer begins (the script's
  // end when no procedure began).
  const std::vector<std::uint8_t>& Script() const { return script_; }
  std::size_t TransferStart() const { return transferStart_; }

 private:
  int fd_;
  vel::Clock& clock_;
  bool endAtProcedure_;
  bool ended_ = false;
  std::vector<std::uint8_t> script_;
  std::size_t transferStart_ = SIZE_MAX;
};

// One way into the engine: a family's firmware file, its simulated device, the action and the
// link kind.
struct DeviceScenario {
  std::string name;  // e.g. "T12-update"
  std::size_t family;
  vel::Action action;  // kUpdate or kCheck
};

const std::vector<DeviceScenario>& DeviceScenarios();
// The update scenarios alone.
const std::vector<DeviceScenario>& UpdateScenarios();
// The scenario an input's first byte picks among `scenarios` (its low five bits).
inline const DeviceScenario& ScenarioOfByte(const std::vector<DeviceScenario>& scenarios,
                                            std::uint8_t byte) {
  return scenarios[(byte & 0x1Fu) % scenarios.size()];
}

// The operator's side of a run: what the version window's rules leave to the operator.
struct OperatorChoices {
  bool acceptUnknown = false;  // answers Yes to an unknown compatibility
  bool declineAll = false;     // cancels every version window
  bool serialNumberOptional = false;

  // From the high bits of a scenario byte (0 for the seeds: the defaults).
  static OperatorChoices FromByte(std::uint8_t byte) {
    return {(byte & 0x20) != 0, (byte & 0x40) != 0, (byte & 0x80) != 0};
  }
};

// Runs the scenario's action with `peer` as the device and returns the status code.
int RunScenario(const DeviceScenario& scenario, vel::LinkPeer& peer, OperatorChoices choices = {});

// Runs the scenario against its simulated device, with the faults a seed picks, and returns
// the script of the device's answers.
struct Recording {
  std::vector<std::uint8_t> script;
  std::size_t transferStart = 0;
  int statusCode = 0;
  std::vector<std::string> violations;  // what the simulated device did not take
};
// With `identificationOnly` the recording ends where the transfer procedure begins.
Recording RecordScenario(const DeviceScenario& scenario, std::uint32_t faultSeed,
                         bool identificationOnly = false);

}  // namespace zandor::fuzz
