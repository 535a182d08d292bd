// Procedure T12: the image of the selected slot to each selected unit of a multi-unit device,
// segment by segment, handing over from one unit to the next.
#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"
#include "engine/VelUpdateDoc.h"

namespace vel {

namespace {
constexpr int kMaxSegments = 8;
constexpr int kBlocksPerSegment = 4;
}  // namespace

TransferPhase CVelUpdateDoc::SegmentPhase(int slot, int positionBase,
                                          const char* recordFormat) const {
  const VelMemMap& map = *file_.MemMap(slot);
  const int totalBlocks = (map.TopSegment() * 4096 + 1 + map.TopAddress() / 16) / 1024;
  TransferPhase phase;
  phase.slot = slot;
  for (int s = 0; s < kMaxSegments; ++s) phase.segments.push_back(s);
  phase.blocksPerSegment = kBlocksPerSegment;
  phase.geometry = Geometry::kFull16K;
  phase.blockIdStyle = BlockIdStyle::kSegment;
  phase.idAndEndViaLink = phase.recordsViaLink = true;
  phase.idText = [](int s, int b) {
    return Format("Sending Hex File : Block %d ID,  Try:", s * kBlocksPerSegment + b + 1);
  };
  phase.recordText = [recordFormat, totalBlocks](int s, int b, int p, int r) {
    return Format(recordFormat, s * kBlocksPerSegment + b + 1, totalBlocks, p + 1, r + 1);
  };
  phase.endText = [](int s, int b) {
    return Format("Sending End of Block: Block %d, Try:", s * kBlocksPerSegment + b + 1);
  };
  phase.idPosition = [positionBase](int s, int b) { return positionBase + s * 4096 + b * 1024; };
  phase.recordPosition = [positionBase](int s, int b, int p, int r) {
    return positionBase + s * 4096 + b * 1024 + p * 16 + r;
  };
  phase.endPosition = [positionBase](int s, int b) {
    return positionBase + s * 4096 + (b + 1) * 1024;
  };
  phase.waitText = [](int, int, int t) {
    return Format("Waiting for Zandor Unit to program block.  Timeout: %d s", t);
  };
  phase.showBlockErrors = false;
  // A programming error sends the segment again from its first block, segment 0 too: going on
  // with the next segment would leave the failed block unprogrammed and still end "successful".
  phase.onF7 = OnProgrammingError::kRestartSegment;
  phase.lastBlock = std::make_pair(static_cast<int>(map.TopSegment()), map.TopAddress() / 16384);
  phase.sendsUpToTopAddress = true;
  phase.missingSegmentText = std::string(text::kNonExistantSegment);
  return phase;
}

bool CVelUpdateDoc::SendUnitImage(bool* cancelled) {
  BuildMapIfMissing(identity_.selectedImage);
  const PhaseOutcome outcome =
      RunPhase(SegmentPhase(identity_.selectedImage, 0,
                            "Sending Hex File : Block %d/%d,  Page %d/64,  Record %d/16,  Try:"));
  *cancelled = outcome == PhaseOutcome::kCancelled;
  if (outcome == PhaseOutcome::kFailed && !Cancelled()) {
    operator_.ShowMessage(std::string(text::kUnitTimeout));
  }
  return outcome == PhaseOutcome::kComplete;
}

void CVelUpdateDoc::ProcedureT12() {
  for (;;) {
    bool cancelled = false;
    const bool complete = SendUnitImage(&cancelled);
    const bool nbFile = file_.SecondTypeFlag();
    if (!complete) {
      // A unit whose image did not go out in full is never counted as updated.
      if (!cancelled) console_.AppendMessage(std::string(text::kUnitTimeout));
      break;
    }
    if (nbFile && identity_.selectedImage == 0) {
      SendUnitSelect(0x01, 0x32);
      Pause(timing_.unitSelectPauseMs);
    }
    WriteRunFrame();
    console_.MarkUpdateDone();
    ++identity_.doneUnitCount;
    if (identity_.doneUnitCount >= identity_.selectedUnitCount) {
      Succeeded(false);  // each unit's box was ticked as it was done
      break;
    }
    // The device hands over with 0x1B, then a pair of 0x1B.
    std::uint8_t byte = 0;
    bool handedOver = false;
    for (int empty = 0; empty < kHandoverEmptyReads && !Cancelled();) {
      if (ReadByte(&byte) != 1) {
        ++empty;
      } else if (byte == protocol::kSingleUnitProtocol) {
        handedOver = true;
        break;
      }
    }
    std::uint8_t pair[2] = {};
    if (handedOver) {
      const bool gotPair = link_.LinkRead(pair, 2) == 2 &&
                           pair[0] == protocol::kSingleUnitProtocol &&
                           pair[1] == protocol::kSingleUnitProtocol;
      handedOver = gotPair || (nbFile && identity_.selectedImage == 1);
    }
    if (!handedOver) {
      if (!Cancelled()) console_.AppendMessage(std::string(text::kUnitsNotHandedOver));
      SetStatusCode(ids::kUpdateFailed);
      break;
    }
    console_.EndProgress();
    if (!SelectNextUnit()) break;
  }
  identity_.doneUnitCount = 0;
  CloseTransfer();
}

bool CVelUpdateDoc::SelectNextUnit() {
  int unit = identity_.currentUnit;
  do {
    --unit;
  } while (unit >= 0 && identity_.unitSelected[unit] != 1);
  if (unit < 0) {
    console_.AppendMessage(std::string(text::kUnitsNotHandedOver));
    SetStatusCode(ids::kUpdateFailed);
    return false;
  }
  identity_.currentUnit = unit;
  identity_.selectedImage = identity_.unitImage[unit];
  identified_ = true;
  std::uint8_t mode = 0;
  std::uint8_t kind = UnitSelectModeByKind(unit, false, &mode);
  if (file_.SecondTypeFlag() && unit == 0) {
    Pause(timing_.nbUnitZeroDelayMs);
    kind = 0x01;
    mode = 0x31;
  }
  SendUnitSelect(kind, mode);
  std::uint8_t ack = 0;
  ReadByte(&ack);
  if (link_.Kind() == LinkKind::kTcp && link_.Tcp().Encrypted()) {
    Pause(timing_.encryptedHandoverWaitMs);
  }
  if (Cancelled()) return false;
  const int slot = identity_.selectedImage;
  if (slot >= kImageSlots) {
    console_.AppendMessage(Format("No image was chosen for unit %d.", unit));
    SetStatusCode(ids::kUpdateFailed);
    return false;
  }
  BuildMapIfMissing(slot);
  const VelMemMap& map = *file_.MemMap(slot);
  if (map.GetPage(0, 0) == nullptr) {
    console_.AppendMessage(Format("Image %d holds no data at segment 0; nothing was sent.", slot));
    SetStatusCode(ids::kUpdateFailed);
    return false;
  }
  console_.BeginProgress(1, map.RecordExtent(), std::string(text::kSendingHexFile), 1);
  return true;
}

}  // namespace vel
