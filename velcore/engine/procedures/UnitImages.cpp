// T12: each selected unit's image, the device handing over from unit to unit.
#include <algorithm>

#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  // One phase for every image a selected unit receives, the first unit's first.
  EngineContext& ctx = build.Context();
  std::vector<TransferPhase> images;
  std::vector<int> slots;
  for (int u = -1; u < 4; ++u) {
    const int slot = u < 0 ? ctx.identity.selectedImage : ctx.identity.unitImage[u];
    if ((u >= 0 && ctx.identity.unitSelected[u] != 1) || slot >= kImageSlots) continue;
    if (std::find(slots.begin(), slots.end(), slot) != slots.end()) continue;
    slots.push_back(slot);
    ctx.BuildMapIfMissing(slot);
    images.push_back(build.SegmentPhase(slot, 0, format::kSendingRecordOfN));
  }
  return images;
}

// Each selected unit receives its image: the current unit first, then the selected units below
// it.
long long PlannedFrames(ProcedureSteps& steps) {
  EngineContext& ctx = steps.Context();
  const DeviceIdentity& identity = ctx.identity;
  const auto imageFrames = [&](int slot) -> long long {
    const TransferPhase* image = steps.PlannedImage(slot);
    if (image == nullptr || ctx.file.MemMap(slot)->GetPage(0, 0) == nullptr) return 0;
    return BlockTransfer::FramesOf(*image);
  };
  long long frames = imageFrames(identity.selectedImage);
  int units = 1;
  for (int u = identity.currentUnit - 1; u >= 0 && units < identity.selectedUnitCount; --u) {
    if (identity.unitSelected[u] != 1) continue;
    frames += imageFrames(identity.unitImage[u]);
    ++units;
  }
  return frames;
}

bool SendUnitImage(ProcedureSteps& steps, bool* cancelled) {
  EngineContext& ctx = steps.Context();
  const TransferPhase* image = steps.PlannedImage(ctx.identity.selectedImage);
  *cancelled = false;
  if (image == nullptr) return false;  // no image of the file was checked for this unit
  const PhaseOutcome outcome = steps.Transfer().RunPhase(*image);
  *cancelled = outcome == PhaseOutcome::kCancelled;
  if (outcome == PhaseOutcome::kFailed && !ctx.Cancelled()) {
    ctx.op.ShowMessage(steps.NoAnswerText());
  }
  return outcome == PhaseOutcome::kComplete;
}

bool Fail(EngineContext& ctx, const std::string& text) {
  ctx.display.AppendMessage(text);
  ctx.SetStatusCode(ids::kUpdateFailed);
  return false;
}

// Selects the next selected unit below the current one and readies its image.
bool SelectNextUnit(ProcedureSteps& steps) {
  EngineContext& ctx = steps.Context();
  DeviceIdentifier& identifier = steps.Identifier();
  int unit = ctx.identity.currentUnit;
  do {
    --unit;
  } while (unit >= 0 && ctx.identity.unitSelected[unit] != 1);
  if (unit < 0) return Fail(ctx, std::string(text::kUnitsNotHandedOver));
  ctx.identity.currentUnit = unit;
  ctx.identity.selectedImage = ctx.identity.unitImage[unit];
  ctx.identified = true;
  std::uint8_t mode = 0;
  std::uint8_t kind = identifier.UnitSelectModeByKind(unit, false, &mode);
  if (ctx.file.SecondTypeFlag() && unit == 0) {
    ctx.Pause("nbUnitZeroDelay", ctx.timing.nbUnitZeroDelayMs);
    kind = 0x01;
    mode = protocol::kSelectLoader;
  }
  identifier.SendUnitSelect(kind, mode);
  std::uint8_t ack = 0;
  const bool answered = ctx.ReadByte(&ack) == 1;
  if (!answered || ack != protocol::kAck) {
    identifier.ReportUnitNotConfirmed(unit,
                                      answered ? std::optional<std::uint8_t>(ack) : std::nullopt);
    return false;
  }
  if (ctx.link.Kind() == LinkKind::kTcp && ctx.link.Tcp().Encrypted()) {
    ctx.Pause("encryptedHandoverWait", ctx.timing.encryptedHandoverWaitMs);
  }
  if (ctx.Cancelled()) return false;
  const int slot = ctx.identity.selectedImage;
  if (slot >= kImageSlots) return Fail(ctx, Format(format::kNoImageForUnit, unit));
  ctx.BuildMapIfMissing(slot);
  const VelMemMap& map = *ctx.file.MemMap(slot);
  if (map.GetPage(0, 0) == nullptr) return Fail(ctx, Format(format::kNoDataAtSegmentZero, slot));
  ctx.display.BeginProgress(1, map.RecordExtent(), std::string(text::kSendingHexFile), 1);
  return true;
}

// The device hands over to the next unit with 0x1B, then a pair of 0x1B.
bool HandedOver(EngineContext& ctx, bool nbFile) {
  std::uint8_t byte = 0;
  bool handedOver = false;
  for (int empty = 0; empty < kHandoverEmptyReads && !ctx.Cancelled();) {
    if (ctx.ReadByte(&byte) != 1) {
      ++empty;
    } else if (byte == protocol::kSingleUnitProtocol) {
      handedOver = true;
      break;
    }
  }
  if (!handedOver) return false;
  std::uint8_t pair[2] = {};
  const bool gotPair = ctx.link.LinkRead(pair, 2) == 2 &&
                       pair[0] == protocol::kSingleUnitProtocol &&
                       pair[1] == protocol::kSingleUnitProtocol;
  return gotPair || (nbFile && ctx.identity.selectedImage == 1);
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>&) {
  EngineContext& ctx = steps.Context();
  for (;;) {
    UnitOutcome& outcome = ctx.unitOutcomes[static_cast<std::size_t>(ctx.identity.currentUnit)];
    outcome = UnitOutcome::kFailedPartWay;
    bool cancelled = false;
    const bool complete = SendUnitImage(steps, &cancelled);
    const bool nbFile = ctx.file.SecondTypeFlag();
    if (!complete) {
      // A unit whose image did not go out in full is never counted as updated.
      if (!cancelled) ctx.display.AppendMessage(steps.NoAnswerText());
      break;
    }
    if (nbFile && ctx.identity.selectedImage == 0) {
      steps.Identifier().SendUnitSelect(0x01, protocol::kSelectAfterLoader);
      ctx.Pause("unitSelectPause", ctx.timing.unitSelectPauseMs);
    }
    steps.WriteRunFrame();
    outcome = UnitOutcome::kProgrammed;
    ++ctx.identity.doneUnitCount;
    if (ctx.identity.doneUnitCount >= ctx.identity.selectedUnitCount) {
      steps.Succeeded();
      break;
    }
    if (!HandedOver(ctx, nbFile)) {
      if (!ctx.Cancelled()) ctx.display.AppendMessage(std::string(text::kUnitsNotHandedOver));
      ctx.SetStatusCode(ids::kUpdateFailed);
      break;
    }
    ctx.display.EndProgress();
    if (!SelectNextUnit(steps)) break;
  }
  ctx.identity.doneUnitCount = 0;
  steps.CloseTransfer();
}

}  // namespace

extern const TransferProcedure kUnitImages{
    Procedure::kUnitImages, 0,   false, false, text::kSendingHexFile, Phases, Run,
    PlannedFrames,          true};

}  // namespace vel::procedures
