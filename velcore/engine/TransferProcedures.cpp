// The transfer procedures of the device families, their phases, handshakes and endings.
#include "engine/TransferProcedures.h"

#include <algorithm>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"

namespace vel {

namespace {

std::string EndText(int shownBlock) { return Format(format::kSendingEndOfBlock, shownBlock); }

}  // namespace

bool TransferProcedures::ChecksumThenRun(std::uint32_t dataSum) {
  const bool confirmed = ConfirmChecksum(dataSum, ctx_.timing.checksumWaitSeconds,
                                         {protocol::kAck, protocol::kAskAgain});
  WriteRunFrame();
  if (!confirmed) ctx_.op.ShowMessage(std::string(text::kTelvikFail));
  return confirmed;
}

bool TransferProcedures::ConfirmChecksum(std::uint32_t dataSum, int seconds,
                                         std::initializer_list<std::uint8_t> answers) {
  // Answers still on their way for earlier frames must not pass for the device's word.
  ctx_.link.Purge();
  const auto frame = protocol::ChecksumFrame(static_cast<std::uint16_t>(dataSum));
  ctx_.Write(frame.data(), static_cast<int>(frame.size()));
  const int answer = transfer_.WaitForByte(
      seconds, [](int t) { return Format(format::kWaitingChecksum, t); }, 34, answers);
  return answer == protocol::kAck;
}

// The 128 KiB layout: segment 254 (when the image has it) and 255, four 16 KiB blocks each,
// shown as blocks 1 to 8; blank records go as zeros; a block error ends the transfer.
TransferPhase TransferProcedures::Kesta128Phase(int slot, int positionBase, int waitFactor) const {
  TransferPhase phase;
  phase.slot = slot;
  if (ctx_.file.MemMap(slot)->GetPage(254, 0) != nullptr) phase.segments.push_back(254);
  phase.segments.push_back(255);
  phase.blocksPerSegment = 4;
  phase.geometry = Geometry::kFull16K;
  phase.blockIdStyle = BlockIdStyle::kSegment;
  phase.blankRecordsAsZero = true;
  const auto shown = [](int s, int b) { return (s - 254) * 4 + b + 1; };
  phase.idText = [shown](int s, int b) { return Format(format::kSendingBlockId, shown(s, b)); };
  phase.recordText = [shown](int s, int b, int p, int r) {
    return Format(format::kSendingRecordOf8, shown(s, b), p + 1, r + 1);
  };
  phase.endText = [shown](int s, int b) { return EndText(shown(s, b)); };
  phase.idPosition = [positionBase](int s, int b) {
    return positionBase + (s - 254) * 4096 + b * 1024;
  };
  phase.recordPosition = [positionBase](int s, int b, int p, int r) {
    return positionBase + (s - 254) * 4096 + b * 1024 + p * 16 + r;
  };
  phase.endPosition = [positionBase](int s, int b) {
    return positionBase + (s - 254) * 4096 + (b + 1) * 1024;
  };
  phase.waitText = [](int, int, int t) { return Format(format::kWaitingForZandor, t); };
  phase.waitPositionFactor = waitFactor;
  phase.onError = OnBlockError::kStop;
  phase.missingSegmentText = LoadString(ids::kNonExistentSegment);
  return phase;
}

// The 128-byte layout of segment 0xFF: `blocks` blocks of eight records.
TransferPhase TransferProcedures::ShortBlockPhase(int blocks) const {
  TransferPhase phase;
  phase.slot = 0;
  phase.segments = {0xFF};
  phase.blocksPerSegment = blocks;
  phase.geometry = Geometry::k128;
  phase.blockIdStyle = BlockIdStyle::kSegment;
  phase.idText = [](int, int b) { return Format(format::kSendingVelHexBlockId, b + 1); };
  phase.recordText = [blocks](int, int b, int p, int r) {
    return Format(format::kSendingShortRecord, b + 1, blocks, p + 1, r + 1);
  };
  phase.endText = [](int, int b) { return EndText(b + 1); };
  phase.idPosition = [](int, int b) { return b * 64; };
  phase.recordPosition = [](int, int b, int, int r) { return b * 64 + r * 8; };
  phase.endPosition = [](int, int b) { return (b + 1) * 64; };
  phase.waitText = [](int, int, int t) { return Format(format::kWaitingForVel2, t); };
  phase.onFD = OnUpdateAgain::kEndIncomplete;
  phase.missingSegmentText = std::string(text::kNonExistantSegment);
  return phase;
}

// The Dravik sectors: segments 0 to 5 of slot 1 in 1 KiB blocks;
// std::string(text::kPleaseUpdateAgain) skips the rest of a sector.
TransferPhase TransferProcedures::SectorPhase() const {
  TransferPhase sectors;
  sectors.slot = 1;
  sectors.segments = {0, 1, 2, 3, 4, 5};
  sectors.blocksPerSegment = 64;
  sectors.geometry = Geometry::kFull1K;
  sectors.blockIdStyle = BlockIdStyle::kSegment;
  sectors.idText = [](int, int b) { return Format(format::kSendingVelHexBlockId, b + 1); };
  sectors.recordText = [](int s, int b, int p, int r) {
    return Format(format::kSendingSectorRecord, s + 1, b + 1, p + 1, r + 1);
  };
  sectors.endText = [](int, int b) { return EndText(b + 1); };
  sectors.idPosition = [](int s, int b) { return s * 4096 + b * 64; };
  sectors.recordPosition = [](int s, int b, int p, int r) {
    return s * 4096 + b * 64 + p * 16 + r;
  };
  sectors.endPosition = [](int s, int b) { return s * 4096 + (b + 1) * 64; };
  sectors.waitText = [](int, int, int t) { return Format(format::kWaitingForVel2, t); };
  sectors.waitPositionFactor = 558;
  sectors.onFD = OnUpdateAgain::kSkipSegment;
  sectors.missingSegmentText = std::string(text::kNonExistantSegment);
  return sectors;
}

// One region of a user station: the slot's lowest segment in 1 KiB blocks with page ranges.
TransferPhase TransferProcedures::RegionPhase(int region, int regions) const {
  TransferPhase phase;
  phase.slot = region;
  phase.segments = {ctx_.file.MemMap(region)->FirstSegment()};
  phase.blocksPerSegment = 64;
  phase.geometry = Geometry::kPageRelative1K;
  phase.blockIdStyle = BlockIdStyle::kPageRange1K;
  phase.pauseBeforeBlockId = true;
  phase.idText = [](int, int b) { return Format(format::kSendingBlockId, b + 1); };
  phase.recordText = [region, regions](int, int b, int p, int r) {
    return Format(format::kSendingRegionRecord, region + 1, regions, b + 1, p + 1, r + 1);
  };
  phase.endText = [](int, int b) { return EndText(b + 1); };
  phase.idPosition = [region, regions](int, int b) { return (region * 4096 + b * 64) / regions; };
  phase.recordPosition = [region, regions](int, int b, int p, int r) {
    return (region * 4096 + (b * 1024 + p * 256 + r * 16) / 16) / regions;
  };
  phase.endPosition = [region, regions](int, int b) {
    return (region * 4096 + (b * 1024 + 1024) / 16) / regions;
  };
  phase.waitText = [region](int, int b, int t) {
    switch (region) {
      case 0:
        return Format(format::kWaitingMainFirmware, t);
      case 1:
        return Format(format::kWaitingRcm, t);
      case 2:
        return Format(format::kWaitingOsdModule, t);
      default:
        return Format(format::kWaitingRegion, region + 1, b + 1, t);
    }
  };
  phase.waitPositionFactor = 136;
  phase.askWhileWaiting = true;
  phase.timeoutCancels = true;
  phase.missingSegmentText = LoadString(ids::kNonExistentSegment);
  return phase;
}

std::vector<TransferPhase> TransferProcedures::PhasesOf(Procedure procedure) {
  const char* kBlocksOf24 = format::kSendingRecordOf24;
  const char* kBlocksOf12 = format::kSendingRecordOf12;
  const char* kBlocksOfN = format::kSendingRecordOfN;
  ctx_.BuildMapIfMissing(0);
  switch (procedure) {
    case Procedure::kT1: {
      TransferPhase phase = Segment64KPhase(kBlocksOf24);
      phase.showBlockErrors = false;
      return {phase};
    }
    case Procedure::kT2:
      return {Kesta128Phase(0, 0, 136)};
    case Procedure::kT3: {
      TransferPhase phase = Kesta128Phase(0, 0, 136);
      phase.segments = {254, 255};
      return {phase};
    }
    case Procedure::kT4: {
      ctx_.BuildMapIfMissing(1);
      TransferPhase image = Kesta128Phase(0, 24576, 546);
      image.segments = {254, 255};
      return {SectorPhase(), image};
    }
    case Procedure::kT6: {
      std::vector<TransferPhase> regions;
      const int count = ctx_.file.ImageCount();
      for (int region = 0; region < count; ++region) {
        ctx_.BuildMapIfMissing(region);
        regions.push_back(RegionPhase(region, count));
      }
      return regions;
    }
    case Procedure::kT7:
      return {ShortBlockPhase(64)};
    case Procedure::kT8: {
      // Range 8912: the first phase takes positions up to 704, the second 720 onwards.
      ctx_.BuildMapIfMissing(1);
      TransferPhase loader = ShortBlockPhase(64);
      loader.idPosition = [](int, int b) { return b * 11; };
      loader.recordPosition = [](int, int b, int, int r) { return b * 11 + r; };
      loader.endPosition = [](int, int b) { return (b + 1) * 11; };
      return {loader, Kesta128Phase(1, 720, 136)};
    }
    case Procedure::kT9: {
      TransferPhase phase = ShortBlockPhase(ctx_.file.MemMap(0)->TopAddress() / 128 + 1);
      phase.sendsUpToTopAddress = true;
      return {phase};
    }
    case Procedure::kT10: {
      // Blocks 1 to 4 as the first procedure sends them, then slot 1's 128 KiB as blocks 5 to 12.
      ctx_.BuildMapIfMissing(1);
      TransferPhase first = Segment64KPhase(kBlocksOf12);
      first.onF7 = OnProgrammingError::kEndTransfer;
      return {first, SecondImagePhase(4096, 4)};
    }
    case Procedure::kT11: {
      ctx_.BuildMapIfMissing(1);
      TransferPhase first = SegmentPhase(0, 0, kBlocksOfN);
      first.segments = {0, 1, 2, 3};
      first.recordsViaLink = false;
      first.showBlockErrors = true;
      first.recordText = [](int s, int b, int p, int r) {
        return Format(format::kSendingRecordOf60, s * 4 + b + 1, p + 1, r + 1);
      };
      first.missingSegmentText = LoadString(ids::kNonExistentSegment);
      return {first, SecondImagePhase(16384, 0)};
    }
    case Procedure::kT12: {
      // One phase for every image a selected unit receives, the first unit's first.
      std::vector<TransferPhase> images;
      std::vector<int> slots;
      for (int u = -1; u < 4; ++u) {
        const int slot = u < 0 ? ctx_.identity.selectedImage : ctx_.identity.unitImage[u];
        if ((u >= 0 && ctx_.identity.unitSelected[u] != 1) || slot >= kImageSlots) continue;
        if (std::find(slots.begin(), slots.end(), slot) != slots.end()) continue;
        slots.push_back(slot);
        ctx_.BuildMapIfMissing(slot);
        images.push_back(SegmentPhase(slot, 0, kBlocksOfN));
      }
      return images;
    }
    case Procedure::kT13:
      ctx_.BuildMapIfMissing(1);
      return {SegmentPhase(0, 0, kBlocksOfN), SegmentPhase(1, 0, kBlocksOfN)};
  }
  return {};
}

bool TransferProcedures::RefuseDataLeftBehind(const std::vector<TransferPhase>& phases) {
  for (const TransferPhase& phase : phases) {
    const VelMemMap& map = *ctx_.file.MemMap(phase.slot);
    std::vector<SentRange> sent;
    bool uptoTop = false;
    for (const TransferPhase& other : phases) {
      if (other.slot != phase.slot) continue;
      const auto ranges = SentRanges(other);
      sent.insert(sent.end(), ranges.begin(), ranges.end());
      uptoTop = uptoTop || other.sendsUpToTopAddress;
    }
    const auto left = FirstDataOutside(map, sent, uptoTop);
    if (!left) continue;
    const std::string message = Format(LoadString(ids::kDataNotSent).c_str(), phase.slot,
                                       left->first, static_cast<unsigned>(left->second));
    ctx_.op.ShowMessage(message);
    ctx_.SetStatusCode(ids::kUpdateFailed);
    ctx_.EndWithoutTransfer(true);
    return true;
  }
  return false;
}

void TransferProcedures::ProcedureT1() {
  EndTransfer(transfer_.RunPhase(PhasesOf(Procedure::kT1)[0]));
}

void TransferProcedures::ProcedureT2(bool tickBox) {
  ctx_.Pause("firstFramePause", ctx_.timing.firstFramePauseMs);
  EndTransfer(transfer_.RunPhase(PhasesOf(Procedure::kT2)[0]), tickBox);
}

void TransferProcedures::ProcedureT3() {
  if (!ctx_.classes.ypd) {
    if (!ctx_.Handshake(protocol::kSingleUnitProtocol)) {
      EndTransfer(PhaseOutcome::kFailed);
      return;
    }
    ctx_.Pause("handshakePause", ctx_.timing.handshakePauseMs);
  }
  EndTransfer(transfer_.RunPhase(PhasesOf(Procedure::kT3)[0]));
}

void TransferProcedures::ProcedureT4() {
  if (!ctx_.Handshake(0x1F)) {
    EndTransfer(PhaseOutcome::kFailed);
    return;
  }
  ctx_.Pause("handshakePause", ctx_.timing.handshakePauseMs);
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT4);
  std::uint32_t sum = 0;
  // A skipped sector (std::string(text::kPleaseUpdateAgain)) leaves the device incomplete: never a
  // success.
  bool ok = transfer_.RunPhase(phases[0], &sum) == PhaseOutcome::kComplete;
  // The run frame and the second phase follow only a confirmed checksum here.
  // 0xFE refuses the sum at once: waiting on for a 0xFA that will not come helps nobody.
  if (ok && ConfirmChecksum(sum & 0xFF, ctx_.timing.sectorChecksumWaitSeconds,
                            {protocol::kAck, protocol::kAskAgain})) {
    WriteRunFrame();
  } else if (ok) {
    ctx_.op.ShowMessage(std::string(text::kTelvikFail));
    ok = false;
  }
  PhaseOutcome second = PhaseOutcome::kFailed;
  if (ok) {
    ctx_.Pause("phasePause", ctx_.timing.phasePauseMs);
    ctx_.link.Purge();
    second = transfer_.RunPhase(phases[1]);
  }
  EndTransfer(second);
}

void TransferProcedures::ProcedureT6() {
  const std::vector<TransferPhase> regions = PhasesOf(Procedure::kT6);
  bool ok = true;
  for (std::size_t region = 0; region < regions.size() && ok; ++region) {
    ok = transfer_.RunPhase(regions[region]) == PhaseOutcome::kComplete;
    if (!ok) break;
    WriteRunFrame();
    if (region > 0 &&
        transfer_.WaitForByte(ctx_.timing.confirmationSeconds,
                              [](int t) { return Format(format::kWaitingForZandor, t); }, 68,
                              {protocol::kAck}) == BlockTransfer::kNoResult) {
      if (!ctx_.Cancelled()) ctx_.op.ShowMessage(std::string(text::kUnitTimeout));
      ok = false;
    }
  }
  if (ok) {
    const auto closing = protocol::ChecksumFrame(0);
    ctx_.Write(closing.data(), static_cast<int>(closing.size()));
    Succeeded();
  }
  CloseTransfer();
}

void TransferProcedures::ProcedureT7() {
  std::uint32_t sum = 0;
  if (transfer_.RunPhase(PhasesOf(Procedure::kT7)[0], &sum) != PhaseOutcome::kComplete) {
    Terminated();
  } else if (ChecksumThenRun(sum)) {
    Succeeded();
  }
  CloseTransfer();
}

void TransferProcedures::ProcedureT8() {
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT8);
  std::uint32_t sum = 0;
  if (transfer_.RunPhase(phases[0], &sum) != PhaseOutcome::kComplete) {
    EndTransfer(PhaseOutcome::kFailed);
    return;
  }
  const bool confirmed = ChecksumThenRun(sum);
  std::uint8_t byte = 0;
  ctx_.ReadByte(&byte);
  if (!confirmed) {
    // The device did not confirm the first phase: sending the second would not make it whole.
    CloseTransfer();
    return;
  }
  ctx_.Pause("escapePause", ctx_.timing.escapePauseMs);
  ctx_.link.Purge();
  bool echoed = false;
  for (int i = 0; i < kEscapeTries && !echoed && !ctx_.Cancelled(); ++i)
    echoed = ctx_.Handshake(protocol::kSingleUnitProtocol);
  if (!echoed) {
    ctx_.ReportConnectionError();
    CloseTransfer();
    return;
  }
  ctx_.Pause("secondPhasePause", ctx_.timing.secondPhasePauseMs);
  EndTransfer(transfer_.RunPhase(phases[1]));
}

void TransferProcedures::ProcedureT9() {
  std::uint32_t sum = 0;
  if (transfer_.RunPhase(PhasesOf(Procedure::kT9)[0], &sum) != PhaseOutcome::kComplete) {
    ctx_.op.ShowMessage(std::string(text::kTerminatedHub));
  } else if (ChecksumThenRun(sum) && ctx_.Pause("hubRestartPause", ctx_.timing.hubRestartPauseMs)) {
    Succeeded();
  }
  CloseTransfer();
}

void TransferProcedures::RunFrameThenSkip(int bytes) {
  WriteRunFrame();
  for (int i = 0; i < bytes; ++i) {
    std::uint8_t ignored = 0;
    ctx_.ReadByte(&ignored);
  }
}

// The second image of the two-phase families: slot 1's 128 KiB, blocks repeated on an error and
// the segment sent again on a programming error, shown after `shownBefore` blocks of 12.
TransferPhase TransferProcedures::SecondImagePhase(int positionBase, int shownBefore) const {
  TransferPhase phase = Kesta128Phase(1, positionBase, 136);
  phase.blankRecordsAsZero = false;
  phase.onError = OnBlockError::kRepeat;
  phase.onF7 = OnProgrammingError::kRestartSegment;
  const auto shown = [shownBefore](int s, int b) { return shownBefore + (s - 254) * 4 + b + 1; };
  phase.idText = [shown](int s, int b) { return Format(format::kSendingBlockId, shown(s, b)); };
  phase.recordText = [shown](int s, int b, int p, int r) {
    return Format(format::kSendingRecordOf12, shown(s, b), p + 1, r + 1);
  };
  phase.endText = [shown](int s, int b) { return EndText(shown(s, b)); };
  return phase;
}

void TransferProcedures::ProcedureT10() {
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT10);
  PhaseOutcome outcome = transfer_.RunPhase(phases[0]);
  if (outcome == PhaseOutcome::kComplete) {
    RunFrameThenSkip(3);
    outcome = transfer_.RunPhase(phases[1]);
  }
  EndTransfer(outcome);
}

void TransferProcedures::ProcedureT11() {
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT11);
  PhaseOutcome outcome = transfer_.RunPhase(phases[0]);
  if (outcome == PhaseOutcome::kComplete) {
    RunFrameThenSkip(5);
    outcome = transfer_.RunPhase(phases[1]);
  }
  EndTransfer(outcome);
}

void TransferProcedures::ProcedureT13() {
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT13);
  bool ok = transfer_.RunPhase(phases[0]) == PhaseOutcome::kComplete;
  if (ok) {
    WriteRunFrame();
    std::uint8_t two[2];
    ctx_.link.LinkRead(two, 2);
    // The loader answers an escape with a reply of 27 bytes (recognised by its length only).
    bool answered = false;
    for (int i = 0; i < kLoaderEscapeTries && !answered && !ctx_.Cancelled(); ++i) {
      ctx_.link.Purge();
      const std::uint8_t escape = protocol::kSingleUnitProtocol;
      ctx_.Write(&escape, 1);
      std::uint8_t reply[30];
      answered = ctx_.link.LinkRead(reply, sizeof reply) == kLoaderReplySize;
    }
    ok = answered;
    if (ok) {
      const std::uint8_t go = protocol::kAck;
      ctx_.Write(&go, 1);
      ok = transfer_.RunPhase(phases[1]) == PhaseOutcome::kComplete;
    }
  }
  if (ok) {
    Finish();
  } else {
    Terminated(ids::kTransmissionTerminated);
  }
  CloseTransfer();
}

namespace {
constexpr int kMaxSegments = 8;
constexpr int kBlocksPerSegment = 4;
}  // namespace

TransferPhase TransferProcedures::SegmentPhase(int slot, int positionBase,
                                               const char* recordFormat) const {
  const VelMemMap& map = *ctx_.file.MemMap(slot);
  const int totalBlocks = (map.TopSegment() * 4096 + 1 + map.TopAddress() / 16) / 1024;
  TransferPhase phase;
  phase.slot = slot;
  for (int s = 0; s < kMaxSegments; ++s) phase.segments.push_back(s);
  phase.blocksPerSegment = kBlocksPerSegment;
  phase.geometry = Geometry::kFull16K;
  phase.blockIdStyle = BlockIdStyle::kSegment;
  phase.idAndEndViaLink = phase.recordsViaLink = true;
  phase.idText = [](int s, int b) {
    return Format(format::kSendingBlockId, s * kBlocksPerSegment + b + 1);
  };
  phase.recordText = [recordFormat, totalBlocks](int s, int b, int p, int r) {
    return Format(recordFormat, s * kBlocksPerSegment + b + 1, totalBlocks, p + 1, r + 1);
  };
  phase.endText = [](int s, int b) {
    return Format(format::kSendingEndOfBlock, s * kBlocksPerSegment + b + 1);
  };
  phase.idPosition = [positionBase](int s, int b) { return positionBase + s * 4096 + b * 1024; };
  phase.recordPosition = [positionBase](int s, int b, int p, int r) {
    return positionBase + s * 4096 + b * 1024 + p * 16 + r;
  };
  phase.endPosition = [positionBase](int s, int b) {
    return positionBase + s * 4096 + (b + 1) * 1024;
  };
  phase.waitText = [](int, int, int t) { return Format(format::kWaitingForZandor, t); };
  phase.showBlockErrors = false;
  // A programming error sends the segment again from its first block, segment 0 too: going on
  // with the next segment would leave the failed block unprogrammed and still end "successful".
  phase.onF7 = OnProgrammingError::kRestartSegment;
  phase.lastBlock = std::make_pair(static_cast<int>(map.TopSegment()), map.TopAddress() / 16384);
  phase.sendsUpToTopAddress = true;
  phase.missingSegmentText = std::string(text::kNonExistantSegment);
  return phase;
}

bool TransferProcedures::SendUnitImage(bool* cancelled) {
  ctx_.BuildMapIfMissing(ctx_.identity.selectedImage);
  const PhaseOutcome outcome =
      transfer_.RunPhase(SegmentPhase(ctx_.identity.selectedImage, 0, format::kSendingRecordOfN));
  *cancelled = outcome == PhaseOutcome::kCancelled;
  if (outcome == PhaseOutcome::kFailed && !ctx_.Cancelled()) {
    ctx_.op.ShowMessage(std::string(text::kUnitTimeout));
  }
  return outcome == PhaseOutcome::kComplete;
}

void TransferProcedures::ProcedureT12() {
  for (;;) {
    bool cancelled = false;
    const bool complete = SendUnitImage(&cancelled);
    const bool nbFile = ctx_.file.SecondTypeFlag();
    if (!complete) {
      // A unit whose image did not go out in full is never counted as updated.
      if (!cancelled) ctx_.console.AppendMessage(std::string(text::kUnitTimeout));
      break;
    }
    if (nbFile && ctx_.identity.selectedImage == 0) {
      identifier_.SendUnitSelect(0x01, 0x32);
      ctx_.Pause("unitSelectPause", ctx_.timing.unitSelectPauseMs);
    }
    WriteRunFrame();
    ctx_.console.MarkUpdateDone();
    ++ctx_.identity.doneUnitCount;
    if (ctx_.identity.doneUnitCount >= ctx_.identity.selectedUnitCount) {
      Succeeded(false);  // each unit's box was ticked as it was done
      break;
    }
    // The device hands over with 0x1B, then a pair of 0x1B.
    std::uint8_t byte = 0;
    bool handedOver = false;
    for (int empty = 0; empty < kHandoverEmptyReads && !ctx_.Cancelled();) {
      if (ctx_.ReadByte(&byte) != 1) {
        ++empty;
      } else if (byte == protocol::kSingleUnitProtocol) {
        handedOver = true;
        break;
      }
    }
    std::uint8_t pair[2] = {};
    if (handedOver) {
      const bool gotPair = ctx_.link.LinkRead(pair, 2) == 2 &&
                           pair[0] == protocol::kSingleUnitProtocol &&
                           pair[1] == protocol::kSingleUnitProtocol;
      handedOver = gotPair || (nbFile && ctx_.identity.selectedImage == 1);
    }
    if (!handedOver) {
      if (!ctx_.Cancelled()) ctx_.console.AppendMessage(std::string(text::kUnitsNotHandedOver));
      ctx_.SetStatusCode(ids::kUpdateFailed);
      break;
    }
    ctx_.console.EndProgress();
    if (!SelectNextUnit()) break;
  }
  ctx_.identity.doneUnitCount = 0;
  CloseTransfer();
}

bool TransferProcedures::SelectNextUnit() {
  int unit = ctx_.identity.currentUnit;
  do {
    --unit;
  } while (unit >= 0 && ctx_.identity.unitSelected[unit] != 1);
  if (unit < 0) {
    ctx_.console.AppendMessage(std::string(text::kUnitsNotHandedOver));
    ctx_.SetStatusCode(ids::kUpdateFailed);
    return false;
  }
  ctx_.identity.currentUnit = unit;
  ctx_.identity.selectedImage = ctx_.identity.unitImage[unit];
  ctx_.identified = true;
  std::uint8_t mode = 0;
  std::uint8_t kind = identifier_.UnitSelectModeByKind(unit, false, &mode);
  if (ctx_.file.SecondTypeFlag() && unit == 0) {
    ctx_.Pause("nbUnitZeroDelay", ctx_.timing.nbUnitZeroDelayMs);
    kind = 0x01;
    mode = 0x31;
  }
  identifier_.SendUnitSelect(kind, mode);
  std::uint8_t ack = 0;
  const bool answered = ctx_.ReadByte(&ack) == 1;
  if (!answered || ack != protocol::kAck) {
    identifier_.ReportUnitNotConfirmed(unit,
                                       answered ? std::optional<std::uint8_t>(ack) : std::nullopt);
    return false;
  }
  if (ctx_.link.Kind() == LinkKind::kTcp && ctx_.link.Tcp().Encrypted()) {
    ctx_.Pause("encryptedHandoverWait", ctx_.timing.encryptedHandoverWaitMs);
  }
  if (ctx_.Cancelled()) return false;
  const int slot = ctx_.identity.selectedImage;
  if (slot >= kImageSlots) {
    ctx_.console.AppendMessage(Format(format::kNoImageForUnit, unit));
    ctx_.SetStatusCode(ids::kUpdateFailed);
    return false;
  }
  ctx_.BuildMapIfMissing(slot);
  const VelMemMap& map = *ctx_.file.MemMap(slot);
  if (map.GetPage(0, 0) == nullptr) {
    ctx_.console.AppendMessage(Format(format::kNoDataAtSegmentZero, slot));
    ctx_.SetStatusCode(ids::kUpdateFailed);
    return false;
  }
  ctx_.console.BeginProgress(1, map.RecordExtent(), std::string(text::kSendingHexFile), 1);
  return true;
}

void TransferProcedures::CloseTransfer() {
  ctx_.link.Purge();
  ctx_.console.EndProgress();
  ctx_.console.EnableWorkingControls(true);
  ctx_.Signal();
}

void TransferProcedures::WriteRunFrame() {
  ctx_.Write(protocol::kRunFrame.data(), static_cast<int>(protocol::kRunFrame.size()));
}

void TransferProcedures::Succeeded(bool tickBox) {
  ctx_.console.SetProgress(0, LoadString(ids::kTransmissionCompleted));
  ctx_.SetStatusCode(ids::kUpdateSuccessful);
  if (tickBox) ctx_.console.MarkUpdateDone();
}

void TransferProcedures::Finish(bool tickBox) {
  WriteRunFrame();
  Succeeded(tickBox);
}

void TransferProcedures::Terminated(int statusCode) {
  ctx_.op.ShowMessage(LoadString(ids::kTransmissionTerminated));
  if (statusCode != 0) ctx_.SetStatusCode(statusCode);
}

void TransferProcedures::EndTransfer(PhaseOutcome outcome, bool tickBox) {
  if (outcome == PhaseOutcome::kComplete) {
    Finish(tickBox);
  } else if (outcome != PhaseOutcome::kStopped) {  // a stop has shown its own message
    Terminated();
  }
  CloseTransfer();
}

// The 64 KiB image of segment 0xFF in four page-range blocks, shown as blocks 1 to 4.
TransferPhase TransferProcedures::Segment64KPhase(const char* recordFormat) const {
  TransferPhase phase;
  phase.slot = 0;
  phase.segments = {0xFF};
  phase.blocksPerSegment = 4;
  phase.geometry = Geometry::kPageRelative16K;
  phase.blockIdStyle = BlockIdStyle::kPageRange16K;
  phase.idText = [](int, int b) { return Format(format::kSendingBlockId, b + 1); };
  phase.recordText = [recordFormat](int, int b, int p, int r) {
    return Format(recordFormat, b + 1, p + 1, r + 1);
  };
  phase.endText = [](int, int b) { return Format(format::kSendingEndOfBlock, b + 1); };
  phase.idPosition = [](int, int b) { return b * 1024; };
  phase.recordPosition = [](int, int b, int p, int r) { return p * 16 + b * 1024 + r; };
  phase.endPosition = [](int, int b) { return (b + 1) * 1024; };
  phase.waitText = [](int, int, int t) { return Format(format::kWaitingForVel2, t); };
  phase.missingSegmentText = LoadString(ids::kNonExistentSegment);
  return phase;
}

void TransferProcedures::Run(Procedure procedure, bool tickBox) {
  switch (procedure) {
    case Procedure::kT1:
      return ProcedureT1();
    case Procedure::kT2:
      return ProcedureT2(tickBox);
    case Procedure::kT3:
      return ProcedureT3();
    case Procedure::kT4:
      return ProcedureT4();
    case Procedure::kT6:
      return ProcedureT6();
    case Procedure::kT7:
      return ProcedureT7();
    case Procedure::kT8:
      return ProcedureT8();
    case Procedure::kT9:
      return ProcedureT9();
    case Procedure::kT10:
      return ProcedureT10();
    case Procedure::kT11:
      return ProcedureT11();
    case Procedure::kT12:
      return ProcedureT12();
    case Procedure::kT13:
      return ProcedureT13();
  }
}

}  // namespace vel
