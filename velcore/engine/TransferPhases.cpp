// The phases of the transfer procedures: which image, segments and blocks each sends, with the
// frames' layout, the status texts, progress positions, waits and the handling of results.
#include "engine/TransferPhases.h"

#include <algorithm>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"
#include "engine/TransferProcedure.h"

namespace vel {

namespace {

constexpr int kMaxSegments = 8;  // the multi-unit procedures send segments 0 to 7 at most
constexpr int kBlocksPerSegment = 4;

std::string EndText(int shownBlock) { return Format(format::kSendingEndOfBlock, shownBlock); }

}  // namespace

// The 128 KiB layout: segment 254 (when the image has it) and 255, four 16 KiB blocks each,
// shown as blocks 1 to 8; blank records go as zeros; a block error ends the transfer.
TransferPhase PhaseBuilder::Kesta128Phase(int slot, int positionBase, int waitFactor) const {
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
TransferPhase PhaseBuilder::ShortBlockPhase(int blocks) const {
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

// The Dravik sectors: segments 0 to 5 of slot 1 in 1 KiB blocks; the device's 0xFD ("please update
// again") skips the rest of a sector.
TransferPhase PhaseBuilder::SectorPhase() const {
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
TransferPhase PhaseBuilder::RegionPhase(int region, int regions) const {
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

std::vector<TransferPhase> PhaseBuilder::PhasesOf(Procedure procedure) {
  ctx_.BuildMapIfMissing(0);
  return ProcedureOf(procedure).phases(*this);
}

bool PhaseBuilder::RefuseDataLeftBehind(const std::vector<TransferPhase>& phases) {
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
    ctx_.Fail(Tell::kBox, message, ids::kUpdateFailed);
    return true;
  }
  return false;
}

// The second image of the two-phase families: slot 1's 128 KiB, blocks repeated on an error and
// the segment sent again on a programming error, shown after `shownBefore` blocks of 12.
TransferPhase PhaseBuilder::SecondImagePhase(int positionBase, int shownBefore) const {
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

TransferPhase PhaseBuilder::SegmentPhase(int slot, int positionBase,
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

// The 64 KiB image of segment 0xFF in four page-range blocks, shown as blocks 1 to 4.
TransferPhase PhaseBuilder::Segment64KPhase(const char* recordFormat) const {
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

}  // namespace vel
