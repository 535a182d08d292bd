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

bool CVelUpdateDoc::SendUnitImage(bool* cancelled) {
  const int slot = identity_.selectedImage;
  const VelMemMap& map = *file_.MemMap(slot);
  const int topSegment = map.TopSegment();
  const int topBlock = map.TopAddress() / 16384;
  const int totalBlocks = (topSegment * 4096 + 1 + map.TopAddress() / 16) / 1024;
  for (int s = 0; s < kMaxSegments; ++s) {
    for (int b = 0; b < kBlocksPerSegment;) {
      const int shown = s * kBlocksPerSegment + b + 1;
      BlockFrames block;
      block.map = &map;
      block.segment = s;
      block.block = b;
      block.blockId = protocol::SegmentBlockId(s);
      block.idPrefix = Format("Sending Hex File : Block %d ID,  Try:", shown);
      block.idPosition = s * 4096 + b * 1024;
      block.recordPrefix = [shown, totalBlocks](int page, int record) {
        return Format("Sending Hex File : Block %d/%d,  Page %d/64,  Record %d/16,  Try:", shown,
                      totalBlocks, page + 1, record + 1);
      };
      block.recordPosition = [s, b](int page, int record) {
        return s * 4096 + b * 1024 + page * 16 + record;
      };
      block.endPrefix = Format("Sending End of Block: Block %d, Try:", shown);
      block.endPosition = s * 4096 + (b + 1) * 1024;
      block.viaLink = true;
      block.missingSegmentText = std::string(text::kNonExistantSegment);
      const BlockOutcome outcome = SendBlock(block);
      if (Cancelled()) {
        *cancelled = true;
        return false;
      }
      if (outcome == BlockOutcome::kMissingSegment) return false;
      if (outcome == BlockOutcome::kFrameFailed) {
        operator_.ShowMessage(std::string(text::kUnitTimeout));
        return false;
      }
      const int result =
          outcome == BlockOutcome::kProgrammed
              ? protocol::kBlockProgrammed
              : ProgrammingWait("Waiting for Zandor Unit to program block.  Timeout: %d s", 68);
      if (Cancelled()) {
        *cancelled = true;
        return false;
      }
      if (result == protocol::kBlockProgrammed) {
        if (s == topSegment && b == topBlock) return true;
        ++b;
        continue;
      }
      LogBlockResult(result);
      if (result == protocol::kProgrammingError) {
        if (s == 0) break;  // segment 0 goes on with segment 1
        b = 0;              // any later segment starts again from its first block
      }
    }
  }
  return false;  // every segment went by without the block that holds the top address
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
    Write(protocol::kRunFrame.data(), static_cast<int>(protocol::kRunFrame.size()));
    identity_.unitDone = true;
    console_.MarkUpdateDone();
    ++identity_.doneUnitCount;
    if (identity_.doneUnitCount >= identity_.selectedUnitCount) {
      console_.SetProgress(0, LoadString(ids::kTransmissionCompleted));
      SetStatusCode(ids::kUpdateSuccessful);
      break;
    }
    // The device hands over with 0x1B, then a pair of 0x1B.
    std::uint8_t byte = 0;
    bool handedOver = false;
    for (int empty = 0; empty < kHandoverEmptyReads;) {
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
      console_.AppendMessage(std::string(text::kUnitsNotHandedOver));
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
    console_.State().completion.WaitFor(std::chrono::milliseconds(timing_.encryptedHandoverWaitMs));
  }
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
