#pragma once

// The simulated device's side of one connection, shared by the files that define it: the idle,
// identification and unit-select steps (SimSession.cpp) and the transfer (SimTransfer.cpp).
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "SimDevice.h"
#include "common/HexDigit.h"
#include "engine/Protocol.h"

namespace sim {

namespace p = vel::protocol;

// A byte as the violations name it: "0x1D".
inline std::string Hex2(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
  return text;
}

// One connection: where the device stands in its exchange with the host.
class SimDevice::Session {
 public:
  Session(SimDevice& device, SimChannel& channel) : d_(device), ch_(channel) {}

  void Run();

 private:
  enum class State { kIdle, kAwaitUnitSelect, kTransfer, kAwaitClosingFrame };

  const SimConfig& Config() const { return d_.config_; }
  void Violation(const std::string& what);

  void Answer(std::uint8_t byte);

  // The answer to a frame that was taken, with the faults an acknowledgement can suffer.
  // `mayBeF4`: 0xF4 acknowledges a block-ID or record frame as well as 0xFA.
  void Acknowledge(bool mayBeF4);

  // ---- idle: attention bytes, text lines, wake bytes, the hub's start bytes ----

  bool Idle(std::uint8_t byte);

  // One Intel HEX line of the unformatted send, its ':' already read: 0xFE takes it, 0xFA asks
  // for it again.
  bool TextLine();

  // ---- identification ----

  void SendInfoBlock(std::uint8_t reply, bool withUnitHeaders);

  bool Identify(std::uint8_t attention);

  // ---- unit selection ----

  bool KindCodeNamesAUnit(std::uint8_t kindCode) const;

  // The unit a valid unit-select frame selects. Bytes 01 30, 02 30 and 03 30 name the unit of
  // that kind, 01 31 the unit of kind 0; 00 00 names the unit of kind 0 or, from a file of one
  // image, any unit. Where the bytes fit several units the device takes them in the order the
  // host counts them: from its highest unit down, each below the one selected last.
  int SelectedUnit(std::uint8_t kind, std::uint8_t mode) const;

  // What is wrong with a unit-select frame, or an empty text. `afterImage`: it came where the
  // loader's image has just been sent.
  std::string CheckUnitSelect(const std::uint8_t* f, bool afterImage) const;

  bool UnitSelect(const std::uint8_t* frame);

  // ---- transfer ----

  void BeginTransfer(bool selected);

  void BeginStage();

  const Stage& CurrentStage() const { return plan_->stages[static_cast<std::size_t>(stage_)]; }

  // A lone byte where a frame could start: a handshake, the loader's escape and go-ahead, or the
  // host starting over.
  bool LoneByte(std::uint8_t byte);

  bool Transfer(std::uint8_t first);

  bool UnitSelectInTransfer(const std::uint8_t* frame);

  // The stage's receiver, begun at its first block-ID once what must precede it came.
  bool OpenStage();

  bool BlockIdFrame(const std::uint8_t* frame);

  // A frame the receiver judged: acknowledged when in order, else a violation and no
  // acknowledgement.
  bool TakeOrRefuse(const std::string& wrong);

  bool RecordFrame(const std::uint8_t* frame);

  bool EndOfBlockFrame();

  void Sleep(int ms) { ch_.Sleep(ms); }

  bool ChecksumFrame(int sum);

  bool RunFrame();

  SimDevice& d_;
  SimChannel& ch_;
  State state_ = State::kIdle;
  int frameNumber_ = 0;
  bool silent_ = false;
  bool restartDue_ = false;
  int startBytes_ = 0;
  bool hubArmed_ = false;
  int textSegment_ = -1;
  std::set<int> repeatedLines_;
  bool multiIdentified_ = false;
  int unitsLeft_ = 0;
  std::uint8_t kindCode_ = 0;
  std::optional<int> lastSelected_;  // the unit the last confirmed unit-select frame selected
  std::vector<Plan> candidates_;
  std::optional<Plan> plan_;
  int stage_ = 0;
  bool echoSeen_ = false, escapeSeen_ = false, goAhead_ = false;
  bool checksumDone_ = false, checksumRejected_ = false;
  int unitIndex_ = -1;
  std::optional<PhaseReceiver> receiver_;
};

}  // namespace sim
