#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "PhaseReceiver.h"
#include "Responder.h"
#include "SimChannel.h"
#include "SimConfig.h"
#include "SimProfile.h"
#include "SimState.h"

namespace sim {

// What one unit, or one phase of a unit's update, was programmed with.
struct ProgrammedUnit {
  int unit = 0;  // the device's unit it went to, numbered as its information block lists them
  std::uint8_t kindCode = 0;  // byte 9 of the unit-select frame (0 for single-unit devices)
  std::map<int, Segment> segments;
  bool runFrameSeen = false;
  int blocksProgrammed = 0;
};

// A strict model of a device of one family: the identification exchange, the unit-select frame,
// and every stage of the family's update with its handshakes, block frames, results, checksum,
// run and closing frames. A block is programmed only when its result is success. Anything the
// family does not take is a protocol violation: the device answers as a device would (no
// acknowledgement, or an error result) and records what was wrong.
class SimDevice final : public Responder {
 public:
  explicit SimDevice(SimConfig config);
  ~SimDevice() override;

  // Serves one connection until it closes, a stop is requested or the power fails.
  void Serve(SimChannel& channel) override;
  // Starts with what a state file kept: its memory (its units and serial number are the
  // configuration's, set before the device is made).
  void Restore(DeviceMemory memory);
  // The programmed memory, as a power cut or a restart leaves it.
  DeviceMemory Memory() const;
  // Whether the power cut has happened.
  bool PowerWasCut() const;
  // Why the state file could not be written the last time, or empty.
  std::string StateError() const;
  // Writes the state file (when there is one) with what the device holds now.
  void KeepState();
  // Called with each violation as it is seen ("WHAT (frame N)"), on the serving thread.
  void OnViolation(std::function<void(const std::string&)> report);

  std::vector<ProgrammedUnit> Programmed() const;
  std::vector<std::string> Violations() const;
  int FramesReceived() const;
  int IdentificationsAnswered() const;
  int FaultsInjected() const;
  // Every byte that arrived while the device waited for an attention byte, in order.
  std::vector<std::uint8_t> IdleBytes() const;
  int EndOfBlocksReceived() const;
  // Lines of an unformatted send taken (answered 0xFE).
  int TextLinesTaken() const;
  // The sum S of every checksum frame received, in order.
  std::vector<int> ChecksumsReceived() const;

 private:
  class Session;
  friend class Session;

  void Violation(const std::string& what);
  // A unit's update ran to its end: from now on it reports the firmware it was given.
  void RunUpdatedFirmware(int unit);
  // A copy of a record, taken under the lock.
  template <class T>
  T Locked(const T& record) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record;
  }
  // Adds one to a counter of the records; its value before.
  int Count(int* counter);
  bool Roll(double probability);
  // Whether the power fails at transfer frame `frameNumber` (from 0); true once.
  bool PowerFailsAt(int frameNumber);

  SimConfig config_;
  std::vector<Plan> plans_;
  std::mt19937 random_;
  std::function<void(const std::string&)> report_;
  mutable std::mutex mutex_;               // guards the records below, read by other threads
  std::deque<ProgrammedUnit> programmed_;  // deque: a phase keeps its unit's address
  DeviceMemory memory_;                    // what every connection programmed
  bool powerCut_ = false;
  std::string stateError_;
  std::vector<std::string> violations_;
  std::vector<std::uint8_t> idleBytes_;
  int frames_ = 0;
  int identifications_ = 0;
  int faults_ = 0;
  int endOfBlocks_ = 0;
  int blocksClosed_ = 0;  // ends of block that closed a block (repeats left out)
  int unitSelects_ = 0;
  int textLines_ = 0;
  int infoBlocks_ = 0;
  std::vector<int> checksums_;
};

}  // namespace sim
