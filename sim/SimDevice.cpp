#include "SimDevice.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "engine/Protocol.h"

namespace sim {

namespace p = vel::protocol;

namespace {
constexpr int kUnitSelectWaitMs = 2000;
}

SimDevice::SimDevice(SimConfig config) : config_(std::move(config)), random_(config_.faults.seed) {}

std::vector<ProgrammedUnit> SimDevice::Programmed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return programmed_;
}

std::vector<std::string> SimDevice::Violations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return violations_;
}

int SimDevice::FramesReceived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

int SimDevice::IdentificationsAnswered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return identifications_;
}

std::vector<std::uint8_t> SimDevice::IdleBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idleBytes_;
}

int SimDevice::EndOfBlocksReceived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return endOfBlocks_;
}

int SimDevice::FaultsInjected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

void SimDevice::Violation(const std::string& what) {
  std::lock_guard<std::mutex> lock(mutex_);
  violations_.push_back(what);
}

bool SimDevice::Roll(double probability) {
  if (probability <= 0.0) return false;
  return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

void SimDevice::Answer(SimChannel& ch, std::uint8_t byte) {
  if (silent_) return;
  if (config_.answerDelayMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(config_.answerDelayMs));
  }
  ch.WriteByte(byte);
}

std::vector<int> SimDevice::ChecksumsReceived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return checksums_;
}

void SimDevice::Acknowledge(SimChannel& ch, int frameNumber) {
  if (Roll(config_.faults.lostAck) || config_.faults.lostAckOfFrames.count(frameNumber) > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++faults_;
    return;
  }
  if (Roll(config_.faults.corruptAck)) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++faults_;
    }
    Answer(ch, 0x5A);
    return;
  }
  Answer(ch, p::kAck);
}

void SimDevice::Serve(SimChannel& ch) {
  if (!config_.key.empty() && !ch.StartCipher(config_.key)) return;
  Next next = Next::kIdle;
  while (next != Next::kClosed && !ch.Closed()) {
    switch (next) {
      case Next::kIdle: {
        std::uint8_t byte = 0;
        if (!ch.Read(&byte, 1)) return;
        ch.PaceReceived(1);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          idleBytes_.push_back(byte);
        }
        if (byte == ':') {
          next = ReceiveTextRecord(ch);
        } else if (config_.wakeByte != 0 && byte == config_.wakeByte) {
          ch.WriteByte(byte);  // awake: frames follow
          runFrames_ = 0;
          StartUnit(0);
          next = Next::kTransfer;
        } else {
          next = config_.protocols.count(byte) > 0 ? Identify(ch, byte) : Next::kIdle;
        }
        break;
      }
      case Next::kTransfer:
        next = Transfer(ch);
        break;
      case Next::kAwaitUnitSelect:
        next = AwaitUnitSelect(ch);
        break;
      case Next::kClosed:
        break;
    }
  }
}

void SimDevice::SendInfoBlock(SimChannel& ch, std::uint8_t reply, bool multi) {
  std::vector<std::uint8_t> block;
  const std::size_t units = multi ? config_.units.size() : 1;
  if (multi) block.push_back(static_cast<std::uint8_t>(units));
  std::string serial = config_.serialNumber.value_or("");
  serial.resize(16, config_.serialNumber ? ' ' : '\xFF');
  for (std::size_t u = 0; u < units; ++u) {
    const SimUnit& unit = config_.units[u];
    if (multi) {
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
  block.push_back(static_cast<std::uint8_t>(sum + (config_.faults.badInfoChecksum ? 1 : 0)));
  if (config_.faults.shortSerial >= 0) {
    // Stop inside the first serial number.
    block.resize(static_cast<std::size_t>((multi ? 3 : 0) + config_.faults.shortSerial));
  }
  if (config_.answerDelayMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(config_.answerDelayMs));
  }
  ch.Write(block.data(), static_cast<int>(block.size()));
}

SimDevice::Next SimDevice::ReceiveTextRecord(SimChannel& ch) {
  std::string line;
  for (;;) {
    const int c = ch.ReadByteFor(-1);
    if (c < 0) return Next::kClosed;
    if (c == '\n') break;
    if (c != '\r') line.push_back(static_cast<char>(c));
  }
  ch.PaceReceived(static_cast<int>(line.size()) + 2);
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < line.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
  }
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  if (bytes.size() < 5 || bytes.size() != 5u + bytes[0] || (sum & 0xFF) != 0) {
    Violation("malformed text record " + line);
    Answer(ch, p::kAck);  // 0xFA: the same line again
    return Next::kIdle;
  }
  const int address = bytes[1] << 8 | bytes[2];
  const std::uint8_t type = bytes[3];
  std::lock_guard<std::mutex> lock(mutex_);
  if (textSegment_ < 0) {
    programmed_.push_back(ProgrammedUnit{});
    textSegment_ = 0xFF;
  }
  if (type == 0x02) textSegment_ = bytes[4] >> 4;
  if (type == 0x04) textSegment_ = bytes[5];
  if (type == 0x00) {
    auto [it, added] = programmed_.back().segments.try_emplace(textSegment_);
    if (added) it->second.fill(0xFF);
    for (int i = 0; i < bytes[0]; ++i) it->second[(address + i) & 0xFFFF] = bytes[4 + i];
  }
  if (type == 0x01) {
    programmed_.back().runFrameSeen = true;
    textSegment_ = -1;
  }
  ch.WriteByte(p::kAskAgain);  // taken: the next line
  return Next::kIdle;
}

SimDevice::Next SimDevice::Identify(SimChannel& ch, std::uint8_t attention) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++identifications_;
  }
  if (config_.faults.busy) {
    const std::uint8_t busy[4] = {p::kBusy, p::kBusy, p::kBusy, p::kBusy};
    ch.Write(busy, 4);
    return Next::kIdle;
  }
  const bool multi = attention == p::kMultiUnitProtocol && config_.multiUnit;
  const std::uint8_t reply = multi ? p::kReplyMultiUnit : config_.singleUnitReply;
  if (attention == p::kSingleUnitProtocol) ch.WriteByte(p::kSingleUnitProtocol);  // echo
  ch.WriteByte(reply);
  for (;;) {
    SendInfoBlock(ch, reply, attention == p::kMultiUnitProtocol);
    const int answer = ch.ReadByteFor(-1);
    if (answer < 0) return Next::kClosed;
    ch.PaceReceived(1);
    if (answer == p::kAskAgain) continue;       // the host asks for the block again
    if (answer != p::kAck) return Next::kIdle;  // information only, or declined
    break;
  }
  unitsLeft_ = multi ? static_cast<int>(config_.units.size()) : 1;
  runFrames_ = 0;
  if (!multi) {
    StartUnit(0);
    return Next::kTransfer;
  }
  const int first = ch.ReadByteFor(kUnitSelectWaitMs);
  if (first < 0 || !ReadUnitSelect(ch, static_cast<std::uint8_t>(first))) return Next::kIdle;
  return Next::kTransfer;
}

bool SimDevice::ReadUnitSelect(SimChannel& ch, std::uint8_t first) {
  std::array<std::uint8_t, p::kUnitSelectFrameSize> frame{first};
  if (first != 0xE7 || !ch.Read(frame.data() + 1, static_cast<int>(frame.size()) - 1)) {
    Violation("expected a unit-select frame");
    return false;
  }
  ch.PaceReceived(static_cast<int>(frame.size()));
  if (frame[1] != 0x0C || frame[2] != 0x35 || frame[3] != 0x0D ||
      frame[11] != p::FrameChecksum(frame.data() + 2, 9)) {
    Violation("malformed unit-select frame");
    return false;
  }
  StartUnit(frame[9]);
  Answer(ch, p::kAck);
  return true;
}

void SimDevice::StartUnit(std::uint8_t kindCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  programmed_.push_back(ProgrammedUnit{kindCode, {}, false, 0});
  --unitsLeft_;
  segment_ = 0xFF;
  pageBase_ = 0;
  segmentAddressed_ = false;
  phaseSum_ = 0;
}

SimDevice::Next SimDevice::Transfer(SimChannel& ch) {
  std::uint8_t head[4];
  if (!ch.Read(head, 1)) return Next::kClosed;
  Next lone = Next::kTransfer;
  if (HandleLoneByte(ch, head[0], &lone)) return lone;
  if (head[0] != 0x00 && head[0] != 0x02 && head[0] != 0x10) {
    Violation("frame of unexpected length " + std::to_string(head[0]));
    return Next::kIdle;
  }
  std::uint8_t frame[4 + 16 + 1];
  frame[0] = head[0];
  const int rest = 3 + head[0] + 1;
  if (!ch.Read(frame + 1, rest)) return Next::kClosed;
  ch.PaceReceived(1 + rest);
  const int length = 1 + rest;
  int frameNumber;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frameNumber = frames_++;
  }
  if (config_.faults.disconnectAtFrame >= 0 && frameNumber >= config_.faults.disconnectAtFrame) {
    return Next::kClosed;
  }
  if (config_.faults.silenceFromFrame >= 0 && frameNumber >= config_.faults.silenceFromFrame) {
    silent_ = true;
  }
  if (frame[length - 1] != p::FrameChecksum(frame, static_cast<std::size_t>(length - 1))) {
    Violation("frame checksum wrong");
    Answer(ch, p::kAskAgain);
    return Next::kTransfer;
  }
  if (frame[0] == 0x10 && Roll(config_.faults.corruptFrame)) {
    // Damaged on the line: the device drops the record and asks for it again.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++faults_;
    }
    Answer(ch, p::kAskAgain);
    return Next::kTransfer;
  }
  const std::uint8_t type = frame[3];
  const bool endOfBlock = frame[0] == 0 && type == 0x01;
  const bool repeatedEnd = previousWasEndOfBlock_ && endOfBlock;
  previousWasEndOfBlock_ = endOfBlock;
  const int address = frame[1] << 8 | frame[2];
  std::unique_lock<std::mutex> lock(mutex_);
  ProgrammedUnit& unit = programmed_.back();
  if (frame[0] == 2 && type == 0x04) {
    recordsInBlock_ = 0;
    blockOpen_ = true;
    if (frame[4] == 0x00 && address == 0) {
      segmentAddressed_ = true;
      segment_ = frame[5];
      pageBase_ = 0;
    } else {
      if (frame[5] != 0xFF || frame[2] != 0x00 || frame[4] < frame[1]) {
        Violation("malformed page-range block-ID frame");
      }
      segmentAddressed_ = false;
      segment_ = 0xFF;
      pageBase_ = frame[1];
    }
    lock.unlock();
    Acknowledge(ch, frameNumber);
    return Next::kTransfer;
  }
  if (frame[0] == 0x10 && type == 0x00) {
    if (!blockOpen_) {
      lock.unlock();
      Violation("record frame outside a block");
      lock.lock();
    }
    ++recordsInBlock_;
    auto [it, added] = unit.segments.try_emplace(segment_);
    if (added) it->second.fill(0xFF);
    const int offset = (pageBase_ * 256 + address) & 0xFFFF;
    std::copy(frame + 4, frame + 20, it->second.begin() + offset);
    for (int i = 4; i < 20; ++i) phaseSum_ += frame[i];
    if (offset + 16 > 0x10000) Violation("record crosses the segment end");
    lock.unlock();
    Acknowledge(ch, frameNumber);
    return Next::kTransfer;
  }
  if (frame[0] == 0 && type == 0x01 && address == 0) {
    // A repeated end of block (its acknowledgement was lost) is no violation.
    if ((!blockOpen_ || recordsInBlock_ == 0) && !repeatedEnd) {
      lock.unlock();
      Violation("end of block without a block");
      lock.lock();
    }
    blockOpen_ = false;
    const int ordinal = endOfBlocks_++;
    std::uint8_t result = p::kBlockProgrammed;
    const auto fault = config_.faults.blockResults.find(ordinal);
    if (fault != config_.faults.blockResults.end()) {
      result = fault->second;
      ++faults_;
    } else {
      ++unit.blocksProgrammed;
    }
    lock.unlock();
    Acknowledge(ch, frameNumber);
    if (config_.programmingDelayMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(config_.programmingDelayMs));
    }
    Answer(ch, result);
    return Next::kTransfer;
  }
  if (frame[0] == 0 && type == 0x06) {
    const int sum = address;  // the checksum frame carries the sum where a record has its address
    checksums_.push_back(sum);
    const bool match =
        sum == static_cast<int>(phaseSum_ & 0xFFFF) || sum == static_cast<int>(phaseSum_ & 0xFF);
    phaseSum_ = 0;
    lock.unlock();
    Answer(ch, match && !config_.faults.rejectChecksum ? p::kAck : p::kAskAgain);
    return Next::kTransfer;
  }
  if (frame[0] == 0 && type == 0x05 && address == 0) {
    unit.runFrameSeen = true;
    const bool handOver = unitsLeft_ > 0;
    lock.unlock();
    ++runFrames_;
    if (config_.phases > 1) return AfterRunFrame(ch);
    if (!handOver) return Next::kIdle;  // the device restarts
    const std::uint8_t handover[3] = {p::kSingleUnitProtocol, p::kSingleUnitProtocol,
                                      p::kSingleUnitProtocol};
    if (!silent_) ch.Write(handover, 3);
    return Next::kAwaitUnitSelect;
  }
  lock.unlock();
  Violation("unexpected frame type " + std::to_string(type));
  return Next::kTransfer;
}

// Several images or regions: the next phase follows on the same connection.
SimDevice::Next SimDevice::AfterRunFrame(SimChannel& ch) {
  const bool last = runFrames_ >= config_.phases;
  if (config_.regionAcks && runFrames_ > 1) Answer(ch, p::kAck);
  if (last) return Next::kIdle;
  for (int i = 0; i < config_.bytesBetweenPhases; ++i) Answer(ch, p::kAck);
  awaitingGo_ = config_.loaderEscape;
  StartUnit(0);
  return Next::kTransfer;
}

// A single byte where a frame could start: a handshake to echo, the loader's escape and go-ahead,
// or the host starting a new identification.
bool SimDevice::HandleLoneByte(SimChannel& ch, std::uint8_t byte, Next* next) {
  if (config_.handshakeEchoes.count(byte) > 0) {
    Answer(ch, byte);
    return true;
  }
  if (config_.loaderEscape && byte == p::kSingleUnitProtocol) {
    if (!config_.faults.noLoaderReply) {
      const std::vector<std::uint8_t> reply(27, 0x55);
      ch.Write(reply.data(), static_cast<int>(reply.size()));
    }
    return true;
  }
  if (awaitingGo_ && byte == p::kAck) {
    awaitingGo_ = false;
    return true;
  }
  if (config_.protocols.count(byte) > 0) {
    *next = Identify(ch, byte);  // the host starts over
    return true;
  }
  return false;
}

SimDevice::Next SimDevice::AwaitUnitSelect(SimChannel& ch) {
  const int first = ch.ReadByteFor(-1);
  if (first < 0) return Next::kClosed;
  if (first != 0xE7) {
    // The host is done with this device and starts afresh.
    return config_.protocols.count(static_cast<std::uint8_t>(first)) > 0
               ? Identify(ch, static_cast<std::uint8_t>(first))
               : Next::kIdle;
  }
  return ReadUnitSelect(ch, static_cast<std::uint8_t>(first)) ? Next::kTransfer : Next::kIdle;
}

}  // namespace sim
