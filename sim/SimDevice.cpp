#include "SimDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include "common/AtomicFile.h"
#include "common/HexDigit.h"
#include "engine/Protocol.h"

namespace sim {

namespace p = vel::protocol;

namespace {

constexpr std::uint8_t kGarbled = 0x5A;  // an answer damaged on the line

std::string Hex2(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
  return text;
}

// The bytes of an Intel HEX line after its ':'; false when it is not pairs of hex digits.
bool ParseHexLine(const std::string& line, std::vector<std::uint8_t>* bytes) {
  if (line.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < line.size(); i += 2) {
    const int high = vel::HexDigitValue(line[i]);
    const int low = vel::HexDigitValue(line[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return true;
}

// The bytes of a frame that follow its first byte, or -1 when no frame starts with it.
int RestOfFrame(std::uint8_t first) {
  switch (first) {
    case 0x00:
      return 4;
    case 0x02:
      return 6;
    case 0x10:
      return 20;
    case p::kUnitSelectStart:
      return static_cast<int>(p::kUnitSelectFrameSize) - 1;
    default:
      return -1;
  }
}

}  // namespace

// One connection: where the device stands in its exchange with the host.
class SimDevice::Session {
 public:
  Session(SimDevice& device, SimChannel& channel) : d_(device), ch_(channel) {}

  void Run() {
    while (!ch_.Closed()) {
      std::uint8_t byte = 0;
      if (!ch_.Read(&byte, 1)) return;
      ch_.PaceReceived(1);
      const bool goOn = state_ == State::kIdle ? Idle(byte) : Transfer(byte);
      if (!goOn) return;
    }
  }

 private:
  enum class State { kIdle, kAwaitUnitSelect, kTransfer, kAwaitClosingFrame };

  const SimConfig& Config() const { return d_.config_; }
  void Violation(const std::string& what) {
    d_.Violation(what + " (frame " + std::to_string(frameNumber_) + ")");
  }

  void Answer(std::uint8_t byte) {
    if (silent_) return;
    if (Config().answerDelayMs > 0) {
      Sleep(Config().answerDelayMs);
    }
    ch_.WriteByte(byte);
  }

  // The answer to a frame that was taken, with the faults an acknowledgement can suffer.
  // `mayBeF4`: 0xF4 acknowledges a block-ID or record frame as well as 0xFA.
  void Acknowledge(bool mayBeF4) {
    const SimFaults& f = Config().faults;
    if (silent_) return;
    if (f.protocolByteFrames.count(frameNumber_) > 0) {
      d_.Count(&d_.faults_);
      Answer(p::kMultiUnitProtocol);
      return;
    }
    if (d_.Roll(f.lostAck) || f.lostAckOfFrames.count(frameNumber_) > 0) {
      d_.Count(&d_.faults_);
      return;
    }
    if (d_.Roll(f.corruptAck)) {
      d_.Count(&d_.faults_);
      Answer(kGarbled);
      return;
    }
    if (d_.Roll(f.lateAck)) {
      d_.Count(&d_.faults_);
      Sleep(f.lateByMs);
    }
    const bool f4 = mayBeF4 && d_.Roll(f.f4Ack);
    Answer(f4 ? p::kBlockProgrammed : p::kAck);
    if (d_.Roll(f.duplicateAck)) {
      d_.Count(&d_.faults_);
      Answer(f4 ? p::kBlockProgrammed : p::kAck);
    }
  }

  // ---- idle: attention bytes, text lines, wake bytes, the hub's start bytes ----

  bool Idle(std::uint8_t byte) {
    {
      std::lock_guard<std::mutex> lock(d_.mutex_);
      d_.idleBytes_.push_back(byte);
    }
    if (byte == p::kHubStartByte) {
      hubArmed_ = hubArmed_ || ++startBytes_ >= p::kHubStartBytes;
      return true;
    }
    startBytes_ = 0;
    if (byte == ':') return TextLine();
    if (byte == p::kUnitSelectStart) {
      std::array<std::uint8_t, p::kUnitSelectFrameSize> frame{byte};
      if (!ch_.Read(frame.data() + 1, static_cast<int>(frame.size()) - 1)) return false;
      Violation("unit-select frame without an identification");
      return true;
    }
    if (Config().wakeByte != 0 && byte == Config().wakeByte) {
      ch_.WriteByte(byte);  // awake: frames follow
      BeginTransfer(false);
      return true;
    }
    if (byte == p::kRestart) {
      restartDue_ = false;
      return true;
    }
    if (Config().protocols.count(byte) > 0) {
      if (restartDue_) {
        Violation("attention byte " + Hex2(byte) +
                  " without the 0x1C that ends an unanswered exchange");
      }
      restartDue_ = false;
      return Identify(byte);
    }
    if (byte == p::kMultiUnitProtocol || byte == p::kSingleUnitProtocol) restartDue_ = true;
    return true;  // a byte this device does not speak: it stays silent
  }

  // One Intel HEX line of the unformatted send, its ':' already read: 0xFE takes it, 0xFA asks
  // for it again.
  bool TextLine() {
    std::string line;
    for (;;) {
      const int c = ch_.ReadByteFor(-1);
      if (c < 0) return false;
      if (c == '\n') break;
      if (c != '\r') line.push_back(static_cast<char>(c));
    }
    ch_.PaceReceived(static_cast<int>(line.size()) + 2);
    std::vector<std::uint8_t> bytes;
    unsigned sum = 0;
    const bool parsed = ParseHexLine(line, &bytes);
    for (std::uint8_t b : bytes) sum += b;
    if (!parsed || bytes.size() < 5 || bytes.size() != 5u + bytes[0] || (sum & 0xFF) != 0) {
      Violation("malformed text record :" + line.substr(0, 64));
      ch_.WriteByte(p::kAck);  // the same line again
      return true;
    }
    int ordinal = 0;
    {
      std::lock_guard<std::mutex> lock(d_.mutex_);
      ordinal = d_.textLines_;
    }
    const auto slow = Config().faults.lineDelays.find(ordinal);
    if (slow != Config().faults.lineDelays.end()) {
      Sleep(slow->second);
    }
    if (Config().faults.protocolByteLines.count(ordinal) > 0) {
      d_.Count(&d_.faults_);
      ch_.WriteByte(p::kMultiUnitProtocol);  // the line is not taken
      return true;
    }
    if (Config().faults.repeatLines.count(ordinal) > 0 && repeatedLines_.insert(ordinal).second) {
      d_.Count(&d_.faults_);
      ch_.WriteByte(p::kAck);  // asked for again, once
      return true;
    }
    const int address = bytes[1] << 8 | bytes[2];
    const std::uint8_t type = bytes[3];
    std::lock_guard<std::mutex> lock(d_.mutex_);
    ++d_.textLines_;
    if (textSegment_ < 0) {
      d_.programmed_.push_back(ProgrammedUnit{});
      textSegment_ = 0xFF;
    }
    if (type == 0x02) textSegment_ = bytes[4] >> 4;
    if (type == 0x04) textSegment_ = bytes[5];
    if (type == p::kRecordData) {
      auto [it, added] = d_.programmed_.back().segments.try_emplace(textSegment_);
      if (added) it->second.fill(0xFF);
      for (int i = 0; i < bytes[0]; ++i) it->second[(address + i) & 0xFFFF] = bytes[4 + i];
    }
    if (type == p::kRecordEnd) {
      d_.programmed_.back().runFrameSeen = true;
      textSegment_ = -1;
    }
    ch_.WriteByte(p::kAskAgain);  // taken: the next line
    return true;
  }

  // ---- identification ----

  void SendInfoBlock(std::uint8_t reply, bool withUnitHeaders) {
    std::vector<std::uint8_t> block;
    const std::size_t units = withUnitHeaders && Config().multiUnit ? Config().units.size() : 1;
    if (withUnitHeaders) block.push_back(static_cast<std::uint8_t>(units));
    std::string serial = Config().serialNumber.value_or("");
    serial.resize(16, Config().serialNumber ? ' ' : '\xFF');
    for (std::size_t u = 0; u < units; ++u) {
      const SimUnit& unit = Config().units[u];
      if (withUnitHeaders) {
        block.push_back(unit.kind);
        block.push_back(0x00);
      }
      block.insert(block.end(), serial.begin(), serial.end());
      block.push_back(static_cast<std::uint8_t>(unit.auxiliary.size()));
      std::string fixed = unit.typeCode;
      fixed.resize(3, ' ');
      std::string hardware = unit.hardware;
      hardware.resize(2, ' ');
      std::string firmware = unit.firmware;
      firmware.resize(3, ' ');
      fixed += hardware + firmware;
      for (std::string aux : unit.auxiliary) {
        aux.resize(3, ' ');
        fixed += aux;
      }
      block.insert(block.end(), fixed.begin(), fixed.end());
    }
    unsigned sum = reply;
    for (std::uint8_t b : block) sum += b;
    const int sent = d_.Count(&d_.infoBlocks_);
    const bool bad = Config().faults.badInfoChecksum || sent < Config().faults.badInfoBlocks;
    block.push_back(static_cast<std::uint8_t>(sum + (bad ? 1 : 0)));
    const std::size_t firstSerial = withUnitHeaders ? 3 : 0;
    if (Config().faults.shortSerial >= 0) {
      // Stop inside the first serial number.
      block.resize(firstSerial + static_cast<std::size_t>(Config().faults.shortSerial));
    } else if (Config().faults.shortAuxiliary >= 0) {
      // Stop inside the first unit's auxiliary versions: serial, count and the fixed 8 bytes.
      constexpr std::size_t kSerialAndFixed = 16 + 1 + 8;
      block.resize(
          std::min(block.size(), firstSerial + kSerialAndFixed +
                                     static_cast<std::size_t>(Config().faults.shortAuxiliary)));
    }
    if (Config().answerDelayMs > 0) {
      Sleep(Config().answerDelayMs);
    }
    ch_.Write(block.data(), static_cast<int>(block.size()));
  }

  bool Identify(std::uint8_t attention) {
    d_.Count(&d_.identifications_);
    if (Config().faults.busy) {
      const std::uint8_t busy[4] = {p::kBusy, p::kBusy, p::kBusy, p::kBusy};
      ch_.Write(busy, 4);
      return true;
    }
    const bool multi = attention == p::kMultiUnitProtocol && Config().multiUnit;
    const std::uint8_t reply = multi ? p::kReplyMultiUnit : Config().singleUnitReply;
    if (attention == p::kSingleUnitProtocol) ch_.WriteByte(p::kSingleUnitProtocol);  // echo
    ch_.WriteByte(reply);
    for (int asked = 0;; ++asked) {
      SendInfoBlock(reply, attention == p::kMultiUnitProtocol);
      const int answer = ch_.ReadByteFor(-1);
      if (answer < 0) return false;
      ch_.PaceReceived(1);
      if (answer == p::kAskAgain) {
        if (asked >= 1) Violation("information block asked for a third time");
        continue;
      }
      if (answer == p::kAck) break;
      if (answer != p::kBusy && answer != p::kDecline && answer != p::kRestart) {
        Violation("answer byte " + Hex2(answer) + " after the information block");
      }
      state_ = State::kIdle;  // information only, declined, or the host starts over
      return true;
    }
    if (Config().family == "hub" && !hubArmed_) {
      Violation("update accepted without the ten 0xBB that start the hub's loader");
    }
    hubArmed_ = false;
    multiIdentified_ = multi;
    unitsLeft_ = multi ? static_cast<int>(Config().units.size()) : 1;
    lastSelected_.reset();
    if (multi) {
      state_ = State::kAwaitUnitSelect;
    } else {
      BeginTransfer(false);
    }
    return true;
  }

  // ---- unit selection ----

  bool KindCodeNamesAUnit(std::uint8_t kindCode) const {
    return std::any_of(Config().units.begin(), Config().units.end(),
                       [&](const SimUnit& u) { return u.kind == kindCode; });
  }

  // The unit a valid unit-select frame selects. Bytes 01 30, 02 30 and 03 30 name the unit of
  // that kind, 01 31 the unit of kind 0; 00 00 names the unit of kind 0 or, from a file of one
  // image, any unit. Where the bytes fit several units the device takes them in the order the
  // host counts them: from its highest unit down, each below the one selected last.
  int SelectedUnit(std::uint8_t kind, std::uint8_t mode) const {
    const auto fits = [&](const SimUnit& unit) {
      if (mode == p::kSelectForUpdate) return unit.kind == kind;
      if (mode == p::kSelectLoader) return unit.kind == 0;
      return true;
    };
    int highest = -1;
    for (int u = static_cast<int>(Config().units.size()) - 1; u >= 0; --u) {
      if (!fits(Config().units[static_cast<std::size_t>(u)])) continue;
      if (highest < 0) highest = u;
      if (!lastSelected_ || u < *lastSelected_) return u;
    }
    return highest;
  }

  // What is wrong with a unit-select frame, or an empty text. `afterImage`: it came where the
  // loader's image has just been sent.
  std::string CheckUnitSelect(const std::uint8_t* f, bool afterImage) const {
    if (f[1] != 0x0C || f[2] != 0x35 || f[3] != 0x0D) return "malformed unit-select frame";
    if (f[11] != p::FrameChecksum(f + 2, 9)) return "unit-select frame checksum wrong";
    if (Config().serialNumber) {
      std::string serial = *Config().serialNumber;
      serial.resize(16, ' ');
      if (!std::equal(f + 4, f + 9, serial.begin())) {
        return "unit-select frame names another serial number";
      }
    }
    const std::uint8_t kind = f[9], mode = f[10];
    if (afterImage) {
      return kind == 0x01 && mode == p::kSelectAfterLoader
                 ? std::string()
                 : "unit-select frame after an image is not the loader's (01 32)";
    }
    const bool valid =
        (kind == 0x00 && mode == 0x00) ||
        (kind >= 1 && kind <= 3 && mode == p::kSelectForUpdate && KindCodeNamesAUnit(kind)) ||
        (kind == 0x01 && mode == p::kSelectLoader && KindCodeNamesAUnit(0));
    return valid ? std::string()
                 : "unit-select frame with kind " + Hex2(kind) + " and mode " + Hex2(mode) +
                       ", which name no unit of this device";
  }

  bool UnitSelect(const std::uint8_t* frame) {
    const int ordinal = d_.Count(&d_.unitSelects_);
    const std::string wrong = CheckUnitSelect(frame, false);
    if (!wrong.empty()) {
      Violation(wrong);
      Answer(p::kAskAgain);
      return true;
    }
    const auto fault = Config().faults.selectAnswers.find(ordinal);
    if (fault != Config().faults.selectAnswers.end()) {
      d_.Count(&d_.faults_);
      if (fault->second != 0) Answer(fault->second);
      state_ = State::kAwaitUnitSelect;  // not selected: nothing may follow for a unit
      return true;
    }
    --unitsLeft_;
    kindCode_ = frame[9];
    lastSelected_ = SelectedUnit(frame[9], frame[10]);
    Answer(p::kAck);
    BeginTransfer(true);
    return true;
  }

  // ---- transfer ----

  void BeginTransfer(bool selected) {
    state_ = State::kTransfer;
    if (!selected) {
      kindCode_ = 0;
      lastSelected_ = 0;  // a device without unit selection takes an update as its unit 0
    }
    candidates_ = d_.plans_;
    plan_.reset();
    stage_ = 0;
    BeginStage();
  }

  void BeginStage() {
    echoSeen_ = escapeSeen_ = goAhead_ = false;
    checksumDone_ = checksumRejected_ = false;
    unitIndex_ = -1;
    receiver_.reset();
  }

  const Stage& CurrentStage() const { return plan_->stages[static_cast<std::size_t>(stage_)]; }

  // A lone byte where a frame could start: a handshake, the loader's escape and go-ahead, or the
  // host starting over.
  bool LoneByte(std::uint8_t byte) {
    if (!receiver_ && stage_ == 0 && Config().wakeByte != 0 && byte == Config().wakeByte) {
      ch_.WriteByte(byte);  // woken again
      return true;
    }
    if (!receiver_) {
      if (!plan_) {
        for (const Plan& plan : candidates_) {
          if (plan.stages.front().echo == byte) {
            plan_ = plan;
            break;
          }
        }
      }
      if (plan_ && CurrentStage().echo == byte) {
        echoSeen_ = true;
        if (!Config().faults.noEcho) Answer(byte);
        return true;
      }
      if (plan_ && CurrentStage().loaderEscape) {
        if (byte == p::kSingleUnitProtocol) {
          escapeSeen_ = true;
          if (!Config().faults.noLoaderReply) {
            const std::vector<std::uint8_t> reply(p::kLoaderReplySize, p::kLoaderReplyByte);
            ch_.Write(reply.data(), static_cast<int>(reply.size()));
          }
          return true;
        }
        if (byte == p::kAck && escapeSeen_) {
          goAhead_ = true;
          return true;
        }
      }
    }
    if (Config().protocols.count(byte) > 0) return Identify(byte);  // the host starts over
    if (byte == p::kRestart) {
      state_ = State::kIdle;
      return true;
    }
    Violation("unexpected byte " + Hex2(byte));
    return true;
  }

  bool Transfer(std::uint8_t first) {
    const int rest = RestOfFrame(first);
    if (rest < 0) return LoneByte(first);
    std::array<std::uint8_t, 21> frame{first};
    if (!ch_.Read(frame.data() + 1, rest)) return false;
    ch_.PaceReceived(1 + rest);
    if (first == p::kUnitSelectStart) return UnitSelectInTransfer(frame.data());
    const int length = 1 + rest;
    frameNumber_ = d_.Count(&d_.frames_);
    if (d_.PowerFailsAt(frameNumber_)) return false;  // the frame is lost with the power
    const SimFaults& f = Config().faults;
    if (f.disconnectAtFrame >= 0 && frameNumber_ >= f.disconnectAtFrame) return false;
    if (f.silenceFromFrame >= 0 && frameNumber_ >= f.silenceFromFrame) silent_ = true;
    if (frame[length - 1] != p::FrameChecksum(frame.data(), static_cast<std::size_t>(length - 1))) {
      Violation("frame checksum wrong");
      Answer(p::kAskAgain);
      return true;
    }
    if (state_ == State::kAwaitUnitSelect) {
      Violation("frame for a unit that was not selected");
      Answer(p::kAskAgain);
      return true;
    }
    const std::uint8_t type = frame[3];
    const int address = frame[1] << 8 | frame[2];
    if (first == 0x02 && type == p::kRecordAddress) return BlockIdFrame(frame.data());
    if (first == 0x10 && type == p::kRecordData) return RecordFrame(frame.data());
    if (first == 0x00 && type == p::kRecordEnd && address == 0) return EndOfBlockFrame();
    if (first == 0x00 && type == p::kRecordRun && address == 0) return RunFrame();
    if (first == 0x00 && type == p::kRecordChecksum) return ChecksumFrame(address);
    Violation("unexpected frame of type " + Hex2(type));
    Answer(p::kAskAgain);
    return true;
  }

  bool UnitSelectInTransfer(const std::uint8_t* frame) {
    if (state_ == State::kAwaitUnitSelect) return UnitSelect(frame);
    // The loader's image is done: the device is told before its run frame.
    const std::string wrong = receiver_ && receiver_->MayEnd()
                                  ? CheckUnitSelect(frame, true)
                                  : std::string("unit-select frame in the middle of a transfer");
    if (!wrong.empty()) Violation(wrong);
    return true;
  }

  // The stage's receiver, begun at its first block-ID once what must precede it came.
  bool OpenStage() {
    if (!plan_) {
      for (const Plan& plan : candidates_) {
        if (plan.stages.front().echo == 0) {
          plan_ = plan;
          break;
        }
      }
      if (!plan_) {
        Violation("block frames without the handshake that precedes them");
        return false;
      }
    }
    const Stage& stage = CurrentStage();
    if (stage.echo != 0 && !echoSeen_) {
      Violation("block frames without the " + Hex2(stage.echo) + " handshake");
      return false;
    }
    if (stage.loaderEscape && !goAhead_) {
      Violation("block frames before the loader's go-ahead (0xFA)");
      return false;
    }
    std::lock_guard<std::mutex> lock(d_.mutex_);
    const int unit = lastSelected_.value_or(0);
    d_.programmed_.push_back(ProgrammedUnit{unit, kindCode_, {}, false, 0});
    unitIndex_ = static_cast<int>(d_.programmed_.size()) - 1;
    receiver_.emplace(stage.phase, &d_.programmed_[static_cast<std::size_t>(unitIndex_)].segments,
                      &d_.memory_[MemoryArea{unit, stage_}]);
    return true;
  }

  bool BlockIdFrame(const std::uint8_t* frame) {
    if (!receiver_ && !OpenStage()) {
      Answer(p::kAskAgain);
      return true;
    }
    return TakeOrRefuse(receiver_->BlockId(frame));
  }

  // A frame the receiver judged: acknowledged when in order, else a violation and no
  // acknowledgement.
  bool TakeOrRefuse(const std::string& wrong) {
    if (!wrong.empty()) {
      Violation(wrong);
      Answer(p::kAskAgain);
      return true;
    }
    Acknowledge(true);
    return true;
  }

  bool RecordFrame(const std::uint8_t* frame) {
    if (!receiver_) {
      Violation("record frame before any block-ID frame");
      Answer(p::kAskAgain);
      return true;
    }
    if (d_.Roll(Config().faults.corruptFrame)) {
      // Damaged on the line: the device drops it and asks for it again.
      d_.Count(&d_.faults_);
      Answer(p::kAskAgain);
      return true;
    }
    return TakeOrRefuse(receiver_->Record(frame));
  }

  bool EndOfBlockFrame() {
    d_.Count(&d_.endOfBlocks_);
    if (!receiver_) {
      Violation("end of block before any block-ID frame");
      Answer(p::kAskAgain);
      return true;
    }
    std::uint8_t injected = 0;
    bool resultLost = false;
    bool injectedF4 = false;
    int delayMs = Config().programmingDelayMs;
    if (receiver_->BlockOpen()) {
      const SimFaults& f = Config().faults;
      const int ordinal = d_.Count(&d_.blocksClosed_);
      const auto fault = f.blockResults.find(ordinal);
      if (fault != f.blockResults.end()) {
        injected = fault->second;
        d_.Count(&d_.faults_);
      }
      resultLost = f.lostResults.count(ordinal) > 0;
      injectedF4 = f.f4EndOfBlocks.count(ordinal) > 0;
      const auto slow = f.blockDelays.find(ordinal);
      if (slow != f.blockDelays.end()) delayMs += slow->second;
    }
    PhaseReceiver::BlockEnd end;
    {
      std::lock_guard<std::mutex> lock(d_.mutex_);
      end = receiver_->EndOfBlock(injected);
      d_.programmed_[static_cast<std::size_t>(unitIndex_)].blocksProgrammed =
          receiver_->BlocksProgrammed();
    }
    if (!end.violation.empty()) Violation(end.violation);
    if (end.result == p::kBlockProgrammed && !end.repeated) d_.KeepState();
    if (end.result == 0) {
      Answer(p::kAskAgain);
      return true;
    }
    if (end.result == p::kBlockProgrammed && !end.repeated &&
        (injectedF4 || d_.Roll(Config().faults.f4Ack))) {
      // The device reports the programmed block at once, as its acknowledgement.
      d_.Count(&d_.faults_);
      Sleep(delayMs);
      Answer(p::kBlockProgrammed);
      return true;
    }
    Acknowledge(false);
    if (resultLost) {
      d_.Count(&d_.faults_);
      return true;
    }
    if (!end.repeated) Sleep(delayMs);
    Answer(end.result);
    return true;
  }

  void Sleep(int ms) { ch_.Sleep(ms); }

  bool ChecksumFrame(int sum) {
    {
      std::lock_guard<std::mutex> lock(d_.mutex_);
      d_.checksums_.push_back(sum);
    }
    if (state_ == State::kAwaitClosingFrame) {
      if (sum != 0) Violation("closing frame with a sum other than 0");
      state_ = State::kIdle;  // the station restarts
      return true;
    }
    if (!receiver_ || CurrentStage().phase.checksum == ChecksumWidth::kNone) {
      Violation("checksum frame where none belongs");
      Answer(p::kAskAgain);
      return true;
    }
    if (!receiver_->MayEnd()) {
      Violation("checksum frame before the phase was complete");
      Answer(p::kAskAgain);
      return true;
    }
    const std::uint32_t taken = receiver_->DataSum();
    bool match = sum == static_cast<int>(taken & 0xFFFF);
    if (CurrentStage().phase.checksum == ChecksumWidth::k8Bit) {
      if (sum > 0xFF) Violation("checksum frame of 16 bits where the sum has 8");
      match = sum == static_cast<int>(taken & 0xFF);
    }
    checksumDone_ = true;
    checksumRejected_ = !match || Config().faults.rejectChecksum;
    if (Config().faults.rejectChecksum) d_.Count(&d_.faults_);
    Answer(checksumRejected_ ? p::kAskAgain : p::kAck);
    return true;
  }

  bool RunFrame() {
    if (!receiver_ || !receiver_->MayEnd()) {
      Violation("run frame before the transfer was complete (" +
                std::to_string(receiver_ ? receiver_->BlocksProgrammed() : 0) +
                " blocks programmed)");
      state_ = State::kIdle;  // the device restarts with what it holds
      return true;
    }
    const Stage& stage = CurrentStage();
    if (stage.phase.checksum != ChecksumWidth::kNone && !checksumDone_) {
      Violation("run frame without the checksum frame");
    }
    {
      std::lock_guard<std::mutex> lock(d_.mutex_);
      d_.programmed_[static_cast<std::size_t>(unitIndex_)].runFrameSeen = true;
    }
    if (checksumRejected_) {
      state_ = State::kIdle;  // the image was not confirmed: the device restarts
      return true;
    }
    if (stage.ackAfterRun && !Config().faults.noRegionAck) Answer(p::kAck);
    for (int i = 0; i < stage.bytesAfterRun; ++i) Answer(p::kAck);
    if (stage_ + 1 < static_cast<int>(plan_->stages.size())) {
      ++stage_;
      BeginStage();
      return true;
    }
    if (plan_->closingFrame) {
      state_ = State::kAwaitClosingFrame;
      return true;
    }
    if (multiIdentified_ && unitsLeft_ > 0 && !Config().faults.noHandOver) {
      const std::uint8_t handover[3] = {p::kSingleUnitProtocol, p::kSingleUnitProtocol,
                                        p::kSingleUnitProtocol};
      if (!silent_) ch_.Write(handover, 3);
      state_ = State::kAwaitUnitSelect;
      return true;
    }
    state_ = State::kIdle;  // the device restarts
    return true;
  }

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
