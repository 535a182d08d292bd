#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "SimChannel.h"
#include "SimConfig.h"

namespace sim {

using Segment = std::array<std::uint8_t, 0x10000>;

// What one unit received between its selection and its run frame.
struct ProgrammedUnit {
  std::uint8_t kindCode = 0;  // byte 9 of the unit-select frame (0 for single-unit devices)
  std::map<int, Segment> segments;
  bool runFrameSeen = false;
  int blocksProgrammed = 0;
};

// The device side of every exchange the engine has with a device: identification, the
// unit-select frame, block frames with their results, the run frame and the unit hand-over.
// It checks what it receives and keeps a list of protocol violations for the tests.
class SimDevice {
 public:
  explicit SimDevice(SimConfig config);

  // Serves one connection until it closes or a stop is requested.
  void Serve(SimChannel& channel);

  std::vector<ProgrammedUnit> Programmed() const;
  std::vector<std::string> Violations() const;
  int FramesReceived() const;
  int IdentificationsAnswered() const;
  int FaultsInjected() const;
  // Every byte that arrived while the device waited for an attention byte, in order.
  std::vector<std::uint8_t> IdleBytes() const;
  int EndOfBlocksReceived() const;
  // The sum S of every checksum frame received, in order.
  std::vector<int> ChecksumsReceived() const;

 private:
  enum class Next { kIdle, kTransfer, kAwaitUnitSelect, kClosed };

  Next Identify(SimChannel& ch, std::uint8_t attention);
  // One Intel HEX line of the unformatted send, its ':' already read.
  Next ReceiveTextRecord(SimChannel& ch);
  Next Transfer(SimChannel& ch);
  Next AwaitUnitSelect(SimChannel& ch);
  bool ReadUnitSelect(SimChannel& ch, std::uint8_t first);
  void SendInfoBlock(SimChannel& ch, std::uint8_t reply, bool multi);
  void Answer(SimChannel& ch, std::uint8_t byte);
  void Acknowledge(SimChannel& ch, int frameNumber);
  void Violation(const std::string& what);
  void StartUnit(std::uint8_t kindCode);
  Next AfterRunFrame(SimChannel& ch);
  bool HandleLoneByte(SimChannel& ch, std::uint8_t byte, Next* next);
  bool Roll(double probability);

  SimConfig config_;
  std::mt19937 random_;
  mutable std::mutex mutex_;  // guards the records below, read by other threads
  std::vector<ProgrammedUnit> programmed_;
  std::vector<std::string> violations_;
  std::vector<std::uint8_t> idleBytes_;
  int frames_ = 0;
  int identifications_ = 0;
  int faults_ = 0;
  int endOfBlocks_ = 0;
  std::vector<int> checksums_;
  int unitsLeft_ = 0;  // units that can still be handed over to in this identification

  // The block being received, and the sum a checksum frame is compared with: the data of every
  // record frame accepted since the last checksum frame, resent ones each time they came.
  int recordsInBlock_ = 0;
  bool blockOpen_ = false;
  bool previousWasEndOfBlock_ = false;
  std::uint32_t phaseSum_ = 0;
  int runFrames_ = 0;
  bool awaitingGo_ = false;
  int segment_ = 0xFF;
  int pageBase_ = 0;
  bool segmentAddressed_ = false;
  bool silent_ = false;
  int textSegment_ = -1;  // the segment text records go to; -1 before the first line
};

}  // namespace sim
