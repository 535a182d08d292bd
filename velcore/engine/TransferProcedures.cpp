// The transfer procedures of the device families: their handshakes, phases and endings.
#include "engine/TransferProcedures.h"

#include <algorithm>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"

namespace vel {

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

void TransferProcedures::PageRangeImage64k() { EndTransfer(transfer_.RunPhase(planned_[0])); }

void TransferProcedures::Image128k() {
  ctx_.Pause("firstFramePause", ctx_.timing.firstFramePauseMs);
  EndTransfer(transfer_.RunPhase(planned_[0]));
}

void TransferProcedures::DravikImage128k() {
  if (!ctx_.device->noHandshake) {
    if (!ctx_.Handshake(protocol::kSingleUnitProtocol)) {
      EndTransfer(PhaseOutcome::kFailed);
      return;
    }
    ctx_.Pause("handshakePause", ctx_.timing.handshakePauseMs);
  }
  EndTransfer(transfer_.RunPhase(planned_[0]));
}

void TransferProcedures::DravikSectorsThenImage() {
  if (!ctx_.Handshake(0x1F)) {
    EndTransfer(PhaseOutcome::kFailed);
    return;
  }
  ctx_.Pause("handshakePause", ctx_.timing.handshakePauseMs);
  const std::vector<TransferPhase>& phases = planned_;
  std::uint32_t sum = 0;
  // A skipped sector (the device's 0xFD, "please update again") leaves the device incomplete:
  // never a success.
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

void TransferProcedures::UserStationRegions() {
  const std::vector<TransferPhase>& regions = planned_;
  bool ok = true;
  for (std::size_t region = 0; region < regions.size() && ok; ++region) {
    ok = transfer_.RunPhase(regions[region]) == PhaseOutcome::kComplete;
    if (!ok) break;
    WriteRunFrame();
    if (region > 0 &&
        transfer_.WaitForByte(ctx_.timing.confirmationSeconds,
                              [](int t) { return Format(format::kWaitingForZandor, t); }, 68,
                              {protocol::kAck}) == BlockTransfer::kNoResult) {
      if (!ctx_.Cancelled()) ctx_.op.ShowMessage(NoAnswerText());
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

void TransferProcedures::ShortBlocks() {
  std::uint32_t sum = 0;
  if (transfer_.RunPhase(planned_[0], &sum) != PhaseOutcome::kComplete) {
    Terminated();
  } else if (ChecksumThenRun(sum)) {
    Succeeded();
  }
  CloseTransfer();
}

void TransferProcedures::ShortBlocksThenImage128k() {
  const std::vector<TransferPhase>& phases = planned_;
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

void TransferProcedures::HubShortBlocks() {
  std::uint32_t sum = 0;
  if (transfer_.RunPhase(planned_[0], &sum) != PhaseOutcome::kComplete) {
    ctx_.op.ShowMessage(std::string(text::kTerminatedHub));
  } else {
    // The hub restarts after the run frame whatever it said of the checksum: the port stays
    // open until it has.
    const bool confirmed = ChecksumThenRun(sum);
    if (ctx_.Pause("hubRestartPause", ctx_.timing.hubRestartPauseMs) && confirmed) Succeeded();
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

void TransferProcedures::PageRangeThenImage128k() {
  const std::vector<TransferPhase>& phases = planned_;
  PhaseOutcome outcome = transfer_.RunPhase(phases[0]);
  if (outcome == PhaseOutcome::kComplete) {
    RunFrameThenSkip(3);
    outcome = transfer_.RunPhase(phases[1]);
  }
  EndTransfer(outcome);
}

void TransferProcedures::SegmentsThenImage128k() {
  const std::vector<TransferPhase>& phases = planned_;
  PhaseOutcome outcome = transfer_.RunPhase(phases[0]);
  if (outcome == PhaseOutcome::kComplete) {
    RunFrameThenSkip(5);
    outcome = transfer_.RunPhase(phases[1]);
  }
  EndTransfer(outcome);
}

void TransferProcedures::LoaderImages() {
  const std::vector<TransferPhase>& phases = planned_;
  bool ok = transfer_.RunPhase(phases[0]) == PhaseOutcome::kComplete;
  if (ok) {
    RunFrameThenSkip(2);
    // The loader answers an escape with a reply of 27 bytes (recognised by its length only).
    bool answered = false;
    for (int i = 0; i < kLoaderEscapeTries && !answered && !ctx_.Cancelled(); ++i) {
      ctx_.link.Purge();
      const std::uint8_t escape = protocol::kSingleUnitProtocol;
      ctx_.Write(&escape, 1);
      std::uint8_t reply[30];
      answered = ctx_.link.LinkRead(reply, sizeof reply) == protocol::kLoaderReplySize;
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

bool TransferProcedures::SendUnitImage(bool* cancelled) {
  const TransferPhase* image = PlannedImage(ctx_.identity.selectedImage);
  *cancelled = false;
  if (image == nullptr) return false;  // no image of the file was checked for this unit
  const PhaseOutcome outcome = transfer_.RunPhase(*image);
  *cancelled = outcome == PhaseOutcome::kCancelled;
  if (outcome == PhaseOutcome::kFailed && !ctx_.Cancelled()) ctx_.op.ShowMessage(NoAnswerText());
  return outcome == PhaseOutcome::kComplete;
}

void TransferProcedures::UnitImages() {
  for (;;) {
    UnitOutcome& outcome = ctx_.unitOutcomes[static_cast<std::size_t>(ctx_.identity.currentUnit)];
    outcome = UnitOutcome::kFailedPartWay;
    bool cancelled = false;
    const bool complete = SendUnitImage(&cancelled);
    const bool nbFile = ctx_.file.SecondTypeFlag();
    if (!complete) {
      // A unit whose image did not go out in full is never counted as updated.
      if (!cancelled) ctx_.console.AppendMessage(NoAnswerText());
      break;
    }
    if (nbFile && ctx_.identity.selectedImage == 0) {
      identifier_.SendUnitSelect(0x01, protocol::kSelectAfterLoader);
      ctx_.Pause("unitSelectPause", ctx_.timing.unitSelectPauseMs);
    }
    WriteRunFrame();
    outcome = UnitOutcome::kProgrammed;
    ++ctx_.identity.doneUnitCount;
    if (ctx_.identity.doneUnitCount >= ctx_.identity.selectedUnitCount) {
      Succeeded();
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
    mode = protocol::kSelectLoader;
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

std::string TransferProcedures::NoAnswerText() {
  return std::string(ctx_.link.ConnectionDropped() ? text::kConnectionClosed : text::kUnitTimeout);
}

void TransferProcedures::CloseTransfer() {
  ctx_.link.Purge();
  ctx_.console.EndProgress();
}

void TransferProcedures::WriteRunFrame() {
  ctx_.Write(protocol::kRunFrame.data(), static_cast<int>(protocol::kRunFrame.size()));
}

void TransferProcedures::Succeeded() {
  ctx_.console.CompletePlan();
  ctx_.console.SetProgress(0, LoadString(ids::kTransmissionCompleted));
  ctx_.SetStatusCode(ids::kUpdateSuccessful);
  for (UnitOutcome& outcome : ctx_.unitOutcomes) {
    if (outcome == UnitOutcome::kFailedPartWay) outcome = UnitOutcome::kProgrammed;
  }
}

void TransferProcedures::BeginOnTheWholeDevice() {
  const int units = std::min(ctx_.identity.unitCount, kMaxUnits);
  bool any = false;
  for (int u = 0; u < units; ++u) {
    if (ctx_.identity.unitSelected[static_cast<std::size_t>(u)] != 1) continue;
    ctx_.unitOutcomes[static_cast<std::size_t>(u)] = UnitOutcome::kFailedPartWay;
    any = true;
  }
  // An exchange that selects no unit updates the device as its unit 0.
  if (!any && units > 0) ctx_.unitOutcomes[0] = UnitOutcome::kFailedPartWay;
}

void TransferProcedures::Finish() {
  WriteRunFrame();
  Succeeded();
}

void TransferProcedures::Terminated(int statusCode) {
  ctx_.op.ShowMessage(LoadString(ids::kTransmissionTerminated));
  if (statusCode != 0) ctx_.SetStatusCode(statusCode);
}

void TransferProcedures::EndTransfer(PhaseOutcome outcome) {
  if (outcome == PhaseOutcome::kComplete) {
    Finish();
  } else if (outcome != PhaseOutcome::kStopped) {  // a stop has shown its own message
    Terminated();
  }
  CloseTransfer();
}

long long TransferProcedures::PlannedFrames(Procedure procedure) {
  long long frames = 0;
  if (procedure != Procedure::kUnitImages) {
    for (const TransferPhase& phase : planned_) {
      frames += BlockTransfer::FramesOf(phase);
    }
    return frames;
  }
  // Each selected unit receives its image: the current unit first, then the selected units
  // below it.
  const DeviceIdentity& identity = ctx_.identity;
  const auto imageFrames = [&](int slot) -> long long {
    const TransferPhase* image = PlannedImage(slot);
    if (image == nullptr || ctx_.file.MemMap(slot)->GetPage(0, 0) == nullptr) return 0;
    return BlockTransfer::FramesOf(*image);
  };
  frames = imageFrames(identity.selectedImage);
  int units = 1;
  for (int u = identity.currentUnit - 1; u >= 0 && units < identity.selectedUnitCount; --u) {
    if (identity.unitSelected[u] != 1) continue;
    frames += imageFrames(identity.unitImage[u]);
    ++units;
  }
  return frames;
}

const TransferPhase* TransferProcedures::PlannedImage(int slot) const {
  const auto found =
      std::find_if(planned_.begin(), planned_.end(),
                   [slot](const TransferPhase& phase) { return phase.slot == slot; });
  return found == planned_.end() ? nullptr : &*found;
}

void TransferProcedures::Run(Procedure procedure, std::vector<TransferPhase> phases) {
  planned_ = std::move(phases);
  if (procedure != Procedure::kUnitImages) BeginOnTheWholeDevice();
  transfer_.BeginPlan(PlannedFrames(procedure));
  switch (procedure) {
    case Procedure::kPageRangeImage64k:
      return PageRangeImage64k();
    case Procedure::kImage128k:
      return Image128k();
    case Procedure::kDravikImage128k:
      return DravikImage128k();
    case Procedure::kDravikSectorsThenImage:
      return DravikSectorsThenImage();
    case Procedure::kUserStationRegions:
      return UserStationRegions();
    case Procedure::kShortBlocks:
      return ShortBlocks();
    case Procedure::kShortBlocksThenImage128k:
      return ShortBlocksThenImage128k();
    case Procedure::kHubShortBlocks:
      return HubShortBlocks();
    case Procedure::kPageRangeThenImage128k:
      return PageRangeThenImage128k();
    case Procedure::kSegmentsThenImage128k:
      return SegmentsThenImage128k();
    case Procedure::kUnitImages:
      return UnitImages();
    case Procedure::kLoaderImages:
      return LoaderImages();
  }
}

void TransferProcedures::SendUnformatted() {
  const int total = ctx_.file.RecordCount(0);
  ctx_.console.BeginProgress(1, total, Format(format::kSendingFirstRecordLine, total), 1);
  ctx_.console.PlanFrames(total);
  const VelHexFile* node = ctx_.file.Chain(0);
  std::string line;
  int taken = 0;         // lines the device took (0xFE after each)
  int unanswered = 0;    // silent reads and repeats since the device last took a line
  bool pending = false;  // `line` still waits to be taken
  while (!ctx_.Cancelled()) {
    if (!pending) {
      if (node == nullptr) break;
      node = node->TakeLine(&line);
      pending = true;
      unanswered = 0;
    }
    ctx_.link.LinkWrite(reinterpret_cast<const std::uint8_t*>(line.data()),
                        static_cast<int>(line.size()));
    ctx_.console.SetStatus(Format(format::kSendingRecordLine, taken + 1, total));
    const int answer = AwaitLineAnswer(&unanswered);
    if (answer == protocol::kAskAgain) {
      ctx_.console.FramesSent(++taken);
      pending = false;
    } else if (answer != protocol::kAck) {
      break;  // the protocol byte, or the operator gave up
    } else if (++unanswered % kNotRespondingEveryTries == 0 && ctx_.GiveUpOnSilence()) {
      break;  // a line the device keeps asking for
    }
  }
  // Complete when every line was taken once; a cancel leaves the device without the rest.
  const bool complete = taken == total && !pending && !ctx_.Cancelled();
  if (complete) ctx_.console.CompletePlan();
  ctx_.console.EndProgress();
  ctx_.SetStatusCode(complete ? ids::kUpdateSuccessful : ids::kUpdateFailed);
  ctx_.op.ShowMessage(complete ? Format(format::kUnformattedCompleted, taken)
                               : std::string(text::kUnformattedNotCompleted));
}

int TransferProcedures::AwaitLineAnswer(int* unanswered) {
  // 0xFA asks for the line again, 0xFE takes it, the protocol byte ends the walk; other bytes
  // are passed over. A device may stay silent for long after a line (erasing its flash): it is
  // waited for without end, and only every kNotRespondingEveryTries silent reads is the operator
  // asked whether to give up (-1).
  while (!ctx_.Cancelled()) {
    std::uint8_t reply = 0;
    if (ctx_.ReadByte(&reply) != 1) {
      if (++*unanswered % kNotRespondingEveryTries == 0 && ctx_.GiveUpOnSilence()) return -1;
      continue;
    }
    if (reply == protocol::kAck || reply == protocol::kAskAgain || reply == ctx_.protocolByte) {
      return reply;
    }
  }
  return -1;
}

}  // namespace vel
