// The idle, identification and unit-select steps of a simulated device's connection.
#include "SimSession.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint8_t kGarbled = 0x5A;  // an answer damaged on the line

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

}  // namespace

void SimDevice::Session::Run() {
  while (!ch_.Closed()) {
    std::uint8_t byte = 0;
    if (!ch_.Read(&byte, 1)) return;
    ch_.PaceReceived(1);
    const bool goOn = state_ == State::kIdle ? Idle(byte) : Transfer(byte);
    if (!goOn) return;
  }
}

void SimDevice::Session::Violation(const std::string& what) {
  d_.Violation(what + " (frame " + std::to_string(frameNumber_) + ")");
}

void SimDevice::Session::Answer(std::uint8_t byte) {
  if (silent_) return;
  if (Config().answerDelayMs > 0) {
    Sleep(Config().answerDelayMs);
  }
  ch_.WriteByte(byte);
}

void SimDevice::Session::Acknowledge(bool mayBeF4) {
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

bool SimDevice::Session::Idle(std::uint8_t byte) {
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

bool SimDevice::Session::TextLine() {
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

void SimDevice::Session::SendInfoBlock(std::uint8_t reply, bool withUnitHeaders) {
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
    block.resize(std::min(
        block.size(),
        firstSerial + kSerialAndFixed + static_cast<std::size_t>(Config().faults.shortAuxiliary)));
  }
  if (Config().answerDelayMs > 0) {
    Sleep(Config().answerDelayMs);
  }
  ch_.Write(block.data(), static_cast<int>(block.size()));
}

bool SimDevice::Session::Identify(std::uint8_t attention) {
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

bool SimDevice::Session::KindCodeNamesAUnit(std::uint8_t kindCode) const {
  return std::any_of(Config().units.begin(), Config().units.end(),
                     [&](const SimUnit& u) { return u.kind == kindCode; });
}

int SimDevice::Session::SelectedUnit(std::uint8_t kind, std::uint8_t mode) const {
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

std::string SimDevice::Session::CheckUnitSelect(const std::uint8_t* f, bool afterImage) const {
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

bool SimDevice::Session::UnitSelect(const std::uint8_t* frame) {
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

}  // namespace sim
