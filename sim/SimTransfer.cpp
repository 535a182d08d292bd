// The transfer steps of a simulated device's connection: stages, block frames, results,
// checksum, run and closing frames.
#include <algorithm>

#include "SimSession.h"

namespace sim {

namespace {

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

void SimDevice::Session::BeginTransfer(bool selected) {
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

void SimDevice::Session::BeginStage() {
  echoSeen_ = escapeSeen_ = goAhead_ = false;
  checksumDone_ = checksumRejected_ = false;
  unitIndex_ = -1;
  receiver_.reset();
}

bool SimDevice::Session::LoneByte(std::uint8_t byte) {
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

bool SimDevice::Session::Transfer(std::uint8_t first) {
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

bool SimDevice::Session::UnitSelectInTransfer(const std::uint8_t* frame) {
  if (state_ == State::kAwaitUnitSelect) return UnitSelect(frame);
  // The loader's image is done: the device is told before its run frame.
  const std::string wrong = receiver_ && receiver_->MayEnd()
                                ? CheckUnitSelect(frame, true)
                                : std::string("unit-select frame in the middle of a transfer");
  if (!wrong.empty()) Violation(wrong);
  return true;
}

bool SimDevice::Session::OpenStage() {
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

bool SimDevice::Session::BlockIdFrame(const std::uint8_t* frame) {
  if (!receiver_ && !OpenStage()) {
    Answer(p::kAskAgain);
    return true;
  }
  return TakeOrRefuse(receiver_->BlockId(frame));
}

bool SimDevice::Session::TakeOrRefuse(const std::string& wrong) {
  if (!wrong.empty()) {
    Violation(wrong);
    Answer(p::kAskAgain);
    return true;
  }
  Acknowledge(true);
  return true;
}

bool SimDevice::Session::RecordFrame(const std::uint8_t* frame) {
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

bool SimDevice::Session::EndOfBlockFrame() {
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

bool SimDevice::Session::ChecksumFrame(int sum) {
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

bool SimDevice::Session::RunFrame() {
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
  d_.RunUpdatedFirmware(d_.programmed_[static_cast<std::size_t>(unitIndex_)].unit);
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

}  // namespace sim
