// The transfer procedures of the other device families and their start-up handshakes.
#include <algorithm>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"
#include "engine/VelUpdateDoc.h"

namespace vel {

namespace {

constexpr const char* kWaitZandor = "Waiting for Zandor Unit to program block.  Timeout: %d s";
constexpr const char* kWaitVel2 = "Waiting for Vel 2 to program block.  Timeout: %d s";
constexpr const char* kTerminatedHub =
    "Transmission Terminated.  Power off and on the Zandor Unit  and try to upload again.";
constexpr const char* kTelvikFail = "Telvik Programming Fail";

std::string EndText(int shownBlock) {
  return Format("Sending End of Block: Block %d, Try:", shownBlock);
}

}  // namespace

bool CVelUpdateDoc::Handshake(std::uint8_t byte) {
  std::uint8_t echo = 0;
  return Write(&byte, 1) && ReadByte(&echo) == 1 && echo == byte;
}

bool CVelUpdateDoc::ChecksumThenRun(std::uint32_t dataSum) {
  const bool confirmed =
      ConfirmChecksum(dataSum, timing_.checksumWaitSeconds, {protocol::kAck, protocol::kAskAgain});
  WriteRunFrame();
  if (!confirmed) operator_.ShowMessage(kTelvikFail);
  return confirmed;
}

bool CVelUpdateDoc::ConfirmChecksum(std::uint32_t dataSum, int seconds,
                                    std::initializer_list<std::uint8_t> answers) {
  // Answers still on their way for earlier frames must not pass for the device's word.
  link_.Purge();
  const auto frame = protocol::ChecksumFrame(static_cast<std::uint16_t>(dataSum));
  Write(frame.data(), static_cast<int>(frame.size()));
  const int answer = WaitForByte(
      seconds, [](int t) { return Format("Waiting check checksum: %d s", t); }, 34, answers);
  return answer == protocol::kAck;
}

void CVelUpdateDoc::WriteSerialNumberIntoImage() {
  std::array<std::uint8_t, kSerialNumberSize> bytes;
  if (identity_.HasSerialNumber()) {
    std::copy(identity_.serialNumber.begin(), identity_.serialNumber.begin() + kSerialNumberSize,
              bytes.begin());
  } else {
    bytes.fill(kNoSerialNumber);
  }
  file_.MutableMemMap(0)->Write(254, 0, bytes.data(), bytes.size());
}

// The 128 KiB layout: segment 254 (when the image has it) and 255, four 16 KiB blocks each,
// shown as blocks 1 to 8; blank records go as zeros; a block error ends the transfer.
TransferPhase CVelUpdateDoc::Kesta128Phase(int slot, int positionBase, int waitFactor) const {
  TransferPhase phase;
  phase.slot = slot;
  if (file_.MemMap(slot)->GetPage(254, 0) != nullptr) phase.segments.push_back(254);
  phase.segments.push_back(255);
  phase.blocksPerSegment = 4;
  phase.geometry = Geometry::kFull16K;
  phase.blockIdStyle = BlockIdStyle::kSegment;
  phase.blankRecordsAsZero = true;
  const auto shown = [](int s, int b) { return (s - 254) * 4 + b + 1; };
  phase.idText = [shown](int s, int b) {
    return Format("Sending Hex File : Block %d ID,  Try:", shown(s, b));
  };
  phase.recordText = [shown](int s, int b, int p, int r) {
    return Format("Sending Hex File : Block %d/8,  Page %d/64,  Record %d/16,  Try:", shown(s, b),
                  p + 1, r + 1);
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
  phase.waitText = [](int, int, int t) { return Format(kWaitZandor, t); };
  phase.waitPositionFactor = waitFactor;
  phase.onError = OnBlockError::kStop;
  phase.missingSegmentText = LoadString(ids::kNonExistentSegment);
  return phase;
}

// The 128-byte layout of segment 0xFF: `blocks` blocks of eight records.
TransferPhase CVelUpdateDoc::ShortBlockPhase(int blocks) const {
  TransferPhase phase;
  phase.slot = 0;
  phase.segments = {0xFF};
  phase.blocksPerSegment = blocks;
  phase.geometry = Geometry::k128;
  phase.blockIdStyle = BlockIdStyle::kSegment;
  phase.idText = [](int, int b) {
    return Format("Sending VelHex File : Block %d ID,  Try:", b + 1);
  };
  phase.recordText = [blocks](int, int b, int p, int r) {
    return Format("Sending VelHex File : Block %d/%d,  Page %d/1,  Record %d/8,  Try:", b + 1,
                  blocks, p + 1, r + 1);
  };
  phase.endText = [](int, int b) { return EndText(b + 1); };
  phase.idPosition = [](int, int b) { return b * 64; };
  phase.recordPosition = [](int, int b, int, int r) { return b * 64 + r * 8; };
  phase.endPosition = [](int, int b) { return (b + 1) * 64; };
  phase.waitText = [](int, int, int t) { return Format(kWaitVel2, t); };
  phase.onFD = OnUpdateAgain::kEndIncomplete;
  phase.missingSegmentText = std::string(text::kNonExistantSegment);
  return phase;
}

// The Dravik sectors: segments 0 to 5 of slot 1 in 1 KiB blocks; "Please Update again!" skips
// the rest of a sector.
TransferPhase CVelUpdateDoc::SectorPhase() const {
  TransferPhase sectors;
  sectors.slot = 1;
  sectors.segments = {0, 1, 2, 3, 4, 5};
  sectors.blocksPerSegment = 64;
  sectors.geometry = Geometry::kFull1K;
  sectors.blockIdStyle = BlockIdStyle::kSegment;
  sectors.idText = [](int, int b) {
    return Format("Sending VelHex File : Block %d ID,  Try:", b + 1);
  };
  sectors.recordText = [](int s, int b, int p, int r) {
    return Format("Sending VelHex File : Sector %d/6,Block %d/64,  Page %d/4,  Record %d/16,  Try:",
                  s + 1, b + 1, p + 1, r + 1);
  };
  sectors.endText = [](int, int b) { return EndText(b + 1); };
  sectors.idPosition = [](int s, int b) { return s * 4096 + b * 64; };
  sectors.recordPosition = [](int s, int b, int p, int r) {
    return s * 4096 + b * 64 + p * 16 + r;
  };
  sectors.endPosition = [](int s, int b) { return s * 4096 + (b + 1) * 64; };
  sectors.waitText = [](int, int, int t) { return Format(kWaitVel2, t); };
  sectors.waitPositionFactor = 558;
  sectors.onFD = OnUpdateAgain::kSkipSegment;
  sectors.missingSegmentText = std::string(text::kNonExistantSegment);
  return sectors;
}

// One region of a user station: the slot's lowest segment in 1 KiB blocks with page ranges.
TransferPhase CVelUpdateDoc::RegionPhase(int region, int regions) const {
  TransferPhase phase;
  phase.slot = region;
  phase.segments = {file_.MemMap(region)->FirstSegment()};
  phase.blocksPerSegment = 64;
  phase.geometry = Geometry::kPageRelative1K;
  phase.blockIdStyle = BlockIdStyle::kPageRange1K;
  phase.pauseBeforeBlockId = true;
  phase.idText = [](int, int b) { return Format("Sending Hex File : Block %d ID,  Try:", b + 1); };
  phase.recordText = [region, regions](int, int b, int p, int r) {
    return Format("Sending Hex File : Region %d/%d,  Block %d/64,  Page %d/4,  Record %d/16,  Try:",
                  region + 1, regions, b + 1, p + 1, r + 1);
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
        return Format("Waiting for Vel to program Main Firmware.  Timeout: %d s", t);
      case 1:
        return Format("Waiting for Vel to program RCM.  Timeout: %d s", t);
      case 2:
        return Format("Waiting for Vel to program OSD Module.  Timeout: %d s", t);
      default:
        return Format("Waiting for programing Region[%d] Block[%d] . Timeout: %d s", region + 1,
                      b + 1, t);
    }
  };
  phase.waitPositionFactor = 136;
  phase.askWhileWaiting = true;
  phase.timeoutCancels = true;
  phase.missingSegmentText = LoadString(ids::kNonExistentSegment);
  return phase;
}

std::vector<TransferPhase> CVelUpdateDoc::PhasesOf(Procedure procedure) {
  const char* kBlocksOf24 = "Sending Hex File : Block %d/24,  Page %d/64,  Record %d/16,  Try:";
  const char* kBlocksOf12 = "Sending Hex File : Block %d/12,  Page %d/64,  Record %d/16,  Try:";
  const char* kBlocksOfN = "Sending Hex File : Block %d/%d,  Page %d/64,  Record %d/16,  Try:";
  BuildMapIfMissing(0);
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
      BuildMapIfMissing(1);
      TransferPhase image = Kesta128Phase(0, 24576, 546);
      image.segments = {254, 255};
      return {SectorPhase(), image};
    }
    case Procedure::kT6: {
      std::vector<TransferPhase> regions;
      const int count = file_.ImageCount();
      for (int region = 0; region < count; ++region) {
        BuildMapIfMissing(region);
        regions.push_back(RegionPhase(region, count));
      }
      return regions;
    }
    case Procedure::kT7:
      return {ShortBlockPhase(64)};
    case Procedure::kT8: {
      // Range 8912: the first phase takes positions up to 704, the second 720 onwards.
      BuildMapIfMissing(1);
      TransferPhase loader = ShortBlockPhase(64);
      loader.idPosition = [](int, int b) { return b * 11; };
      loader.recordPosition = [](int, int b, int, int r) { return b * 11 + r; };
      loader.endPosition = [](int, int b) { return (b + 1) * 11; };
      return {loader, Kesta128Phase(1, 720, 136)};
    }
    case Procedure::kT9: {
      TransferPhase phase = ShortBlockPhase(file_.MemMap(0)->TopAddress() / 128 + 1);
      phase.sendsUpToTopAddress = true;
      return {phase};
    }
    case Procedure::kT10: {
      // Blocks 1 to 4 as the first procedure sends them, then slot 1's 128 KiB as blocks 5 to 12.
      BuildMapIfMissing(1);
      TransferPhase first = Segment64KPhase(kBlocksOf12);
      first.onF7 = OnProgrammingError::kEndTransfer;
      return {first, SecondImagePhase(4096, 4)};
    }
    case Procedure::kT11: {
      BuildMapIfMissing(1);
      TransferPhase first = SegmentPhase(0, 0, kBlocksOfN);
      first.segments = {0, 1, 2, 3};
      first.recordsViaLink = false;
      first.showBlockErrors = true;
      first.recordText = [](int s, int b, int p, int r) {
        return Format("Sending Hex File : Block %d/60,  Page %d/4,  Record %d/16,  Try:",
                      s * 4 + b + 1, p + 1, r + 1);
      };
      first.missingSegmentText = LoadString(ids::kNonExistentSegment);
      return {first, SecondImagePhase(16384, 0)};
    }
    case Procedure::kT12: {
      // One phase for every image a selected unit receives, the first unit's first.
      std::vector<TransferPhase> images;
      std::vector<int> slots;
      for (int u = -1; u < 4; ++u) {
        const int slot = u < 0 ? identity_.selectedImage : identity_.unitImage[u];
        if ((u >= 0 && identity_.unitSelected[u] != 1) || slot >= kImageSlots) continue;
        if (std::find(slots.begin(), slots.end(), slot) != slots.end()) continue;
        slots.push_back(slot);
        BuildMapIfMissing(slot);
        images.push_back(SegmentPhase(slot, 0, kBlocksOfN));
      }
      return images;
    }
    case Procedure::kT13:
      BuildMapIfMissing(1);
      return {SegmentPhase(0, 0, kBlocksOfN), SegmentPhase(1, 0, kBlocksOfN)};
  }
  return {};
}

bool CVelUpdateDoc::RefuseDataLeftBehind(const std::vector<TransferPhase>& phases) {
  for (const TransferPhase& phase : phases) {
    const VelMemMap& map = *file_.MemMap(phase.slot);
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
    operator_.ShowMessage(message);
    SetStatusCode(ids::kUpdateFailed);
    EndWithoutTransfer(true);
    return true;
  }
  return false;
}

void CVelUpdateDoc::StartProcedure(Procedure procedure, int range, std::function<void()> body) {
  if (RefuseDataLeftBehind(PhasesOf(procedure))) return;
  console_.BeginProgress(1, range, std::string(text::kSendingHexFile), 1);
  StartWorker(std::move(body));
}

void CVelUpdateDoc::ProcedureT1() { EndTransfer(RunPhase(PhasesOf(Procedure::kT1)[0])); }

void CVelUpdateDoc::ProcedureT2(bool tickBox) {
  Pause(timing_.firstFramePauseMs);
  EndTransfer(RunPhase(PhasesOf(Procedure::kT2)[0]), tickBox);
}

void CVelUpdateDoc::ProcedureT3() {
  if (!classes_.ypd) {
    if (!Handshake(protocol::kSingleUnitProtocol)) {
      EndTransfer(PhaseOutcome::kFailed);
      return;
    }
    Pause(timing_.handshakePauseMs);
  }
  EndTransfer(RunPhase(PhasesOf(Procedure::kT3)[0]));
}

void CVelUpdateDoc::ProcedureT4() {
  if (!Handshake(0x1F)) {
    EndTransfer(PhaseOutcome::kFailed);
    return;
  }
  Pause(timing_.handshakePauseMs);
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT4);
  std::uint32_t sum = 0;
  // A skipped sector ("Please Update again!") leaves the device incomplete: never a success.
  bool ok = RunPhase(phases[0], &sum) == PhaseOutcome::kComplete;
  // The run frame and the second phase follow only a confirmed checksum here.
  if (ok && ConfirmChecksum(sum & 0xFF, timing_.sectorChecksumWaitSeconds, {protocol::kAck})) {
    WriteRunFrame();
  } else if (ok) {
    operator_.ShowMessage(kTelvikFail);
    ok = false;
  }
  PhaseOutcome second = PhaseOutcome::kFailed;
  if (ok) {
    Pause(timing_.phasePauseMs);
    link_.Purge();
    second = RunPhase(phases[1]);
  }
  EndTransfer(second);
}

void CVelUpdateDoc::ProcedureT6() {
  const std::vector<TransferPhase> regions = PhasesOf(Procedure::kT6);
  bool ok = true;
  for (std::size_t region = 0; region < regions.size() && ok; ++region) {
    ok = RunPhase(regions[region]) == PhaseOutcome::kComplete;
    if (!ok) break;
    WriteRunFrame();
    if (region > 0 &&
        WaitForByte(timing_.confirmationSeconds, [](int t) { return Format(kWaitZandor, t); }, 68,
                    {protocol::kAck}) == kNoResult) {
      if (!Cancelled()) operator_.ShowMessage(std::string(text::kUnitTimeout));
      ok = false;
    }
  }
  if (ok) {
    const auto closing = protocol::ChecksumFrame(0);
    Write(closing.data(), static_cast<int>(closing.size()));
    Succeeded();
  }
  CloseTransfer();
}

void CVelUpdateDoc::ProcedureT7() {
  std::uint32_t sum = 0;
  if (RunPhase(PhasesOf(Procedure::kT7)[0], &sum) != PhaseOutcome::kComplete) {
    Terminated();
  } else if (ChecksumThenRun(sum)) {
    Succeeded();
  }
  CloseTransfer();
}

void CVelUpdateDoc::ProcedureT8() {
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT8);
  std::uint32_t sum = 0;
  if (RunPhase(phases[0], &sum) != PhaseOutcome::kComplete) {
    EndTransfer(PhaseOutcome::kFailed);
    return;
  }
  const bool confirmed = ChecksumThenRun(sum);
  std::uint8_t byte = 0;
  ReadByte(&byte);
  if (!confirmed) {
    // The device did not confirm the first phase: sending the second would not make it whole.
    CloseTransfer();
    return;
  }
  Pause(timing_.escapePauseMs);
  link_.Purge();
  bool echoed = false;
  for (int i = 0; i < kEscapeTries && !echoed && !Cancelled(); ++i)
    echoed = Handshake(protocol::kSingleUnitProtocol);
  if (!echoed) {
    if (!Cancelled()) {
      operator_.ShowMessage(LoadString(ids::kConnectionError));
      SetStatusCode(ids::kConnectionError);
    }
    CloseTransfer();
    return;
  }
  Pause(timing_.secondPhasePauseMs);
  EndTransfer(RunPhase(phases[1]));
}

void CVelUpdateDoc::ProcedureT9() {
  std::uint32_t sum = 0;
  if (RunPhase(PhasesOf(Procedure::kT9)[0], &sum) != PhaseOutcome::kComplete) {
    operator_.ShowMessage(kTerminatedHub);
  } else if (ChecksumThenRun(sum) && Pause(timing_.hubRestartPauseMs)) {
    Succeeded();
  }
  CloseTransfer();
}

void CVelUpdateDoc::RunFrameThenSkip(int bytes) {
  WriteRunFrame();
  for (int i = 0; i < bytes; ++i) {
    std::uint8_t ignored = 0;
    ReadByte(&ignored);
  }
}

// The second image of the two-phase families: slot 1's 128 KiB, blocks repeated on an error and
// the segment sent again on a programming error, shown after `shownBefore` blocks of 12.
TransferPhase CVelUpdateDoc::SecondImagePhase(int positionBase, int shownBefore) const {
  TransferPhase phase = Kesta128Phase(1, positionBase, 136);
  phase.blankRecordsAsZero = false;
  phase.onError = OnBlockError::kRepeat;
  phase.onF7 = OnProgrammingError::kRestartSegment;
  const auto shown = [shownBefore](int s, int b) { return shownBefore + (s - 254) * 4 + b + 1; };
  phase.idText = [shown](int s, int b) {
    return Format("Sending Hex File : Block %d ID,  Try:", shown(s, b));
  };
  phase.recordText = [shown](int s, int b, int p, int r) {
    return Format("Sending Hex File : Block %d/12,  Page %d/64,  Record %d/16,  Try:", shown(s, b),
                  p + 1, r + 1);
  };
  phase.endText = [shown](int s, int b) { return EndText(shown(s, b)); };
  return phase;
}

void CVelUpdateDoc::ProcedureT10() {
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT10);
  PhaseOutcome outcome = RunPhase(phases[0]);
  if (outcome == PhaseOutcome::kComplete) {
    RunFrameThenSkip(3);
    outcome = RunPhase(phases[1]);
  }
  EndTransfer(outcome);
}

void CVelUpdateDoc::ProcedureT11() {
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT11);
  PhaseOutcome outcome = RunPhase(phases[0]);
  if (outcome == PhaseOutcome::kComplete) {
    RunFrameThenSkip(5);
    outcome = RunPhase(phases[1]);
  }
  EndTransfer(outcome);
}

void CVelUpdateDoc::ProcedureT13() {
  const std::vector<TransferPhase> phases = PhasesOf(Procedure::kT13);
  bool ok = RunPhase(phases[0]) == PhaseOutcome::kComplete;
  if (ok) {
    WriteRunFrame();
    std::uint8_t two[2];
    link_.LinkRead(two, 2);
    // The loader answers an escape with a reply of 27 bytes (recognised by its length only).
    bool answered = false;
    for (int i = 0; i < kLoaderEscapeTries && !answered && !Cancelled(); ++i) {
      link_.Purge();
      const std::uint8_t escape = protocol::kSingleUnitProtocol;
      Write(&escape, 1);
      std::uint8_t reply[30];
      answered = link_.LinkRead(reply, sizeof reply) == kLoaderReplySize;
    }
    ok = answered;
    if (ok) {
      const std::uint8_t go = protocol::kAck;
      Write(&go, 1);
      ok = RunPhase(phases[1]) == PhaseOutcome::kComplete;
    }
  }
  if (ok) {
    Finish();
  } else {
    Terminated(ids::kTransmissionTerminated);
  }
  CloseTransfer();
}

void CVelUpdateDoc::WakeDravikDevice(int mode) {
  if (link_.Kind() == LinkKind::kTcp) {
    operator_.ShowMessage("Dravik only supports firmware upgrade via serial port");
    SetStatusCode(ids::kConnectionError);
    EndWithoutTransfer(true);
    return;
  }
  const std::uint8_t wake = mode == 0 ? 0x1B : 0x1F;
  link_.Purge();
  console_.BeginProgress(0, 6, std::string(text::kAttemptingToCommunicate), 1);
  bool awake = false;
  for (int i = 0; i < kWakeTries && !awake && !Cancelled(); ++i) {
    link_.Serial().SetBaudRate(9600);
    console_.SetStatus({});
    awake = Handshake(wake);
  }
  console_.EndProgress();
  if (!awake) {
    link_.ClosePort();
    if (!Cancelled()) {
      operator_.ShowMessage(LoadString(ids::kConnectionError));
      SetStatusCode(ids::kConnectionError);
    }
    EndWithoutTransfer(true);
    return;
  }
  BuildMapIfMissing(0);
  if (mode == 0) {
    if (file_.MemMap(0)->GetPage(254, 0) == nullptr) {
      console_.AppendMessage("The file holds no 128 KiB image (segment 254); nothing was sent.");
      SetStatusCode(ids::kUpdateFailed);
      EndWithoutTransfer(true);
      return;
    }
    StartProcedure(Procedure::kT2, 8192, [this] { ProcedureT2(false); });
  } else if (mode == 1) {
    StartProcedure(Procedure::kT7, 4096, [this] { ProcedureT7(); });
  } else {
    StartProcedure(Procedure::kT8, 8912, [this] { ProcedureT8(); });
  }
}

void CVelUpdateDoc::StartHubUpdate() {
  if (SerialOnly()) return;
  link_.Purge();
  protocolByte_ = protocol::kSingleUnitProtocol;
  link_.Serial().SetBaudRate(9600);
  const std::array<std::uint8_t, 10> start = {0xBB, 0xBB, 0xBB, 0xBB, 0xBB,
                                              0xBB, 0xBB, 0xBB, 0xBB, 0xBB};
  Write(start.data(), static_cast<int>(start.size()));
  int result = 0;
  for (int i = 0; i < kHubIdentifyTries && result == 0 && !Cancelled(); ++i) {
    result = IdentifyDevice();
  }
  if (result == 0) {
    link_.ClosePort();
    if (!Cancelled()) {
      operator_.ShowMessage(LoadString(ids::kConnectionError));
      SetStatusCode(ids::kConnectionError);
    }
    EndWithoutTransfer(true);
    return;
  }
  if (result < 0 || !identified_) {
    EndWithoutTransfer(true);
    return;
  }
  if (RefuseDataLeftBehind(PhasesOf(Procedure::kT9))) return;
  console_.BeginProgress(1, 4096, "Sending VelHex File...", 1);
  StartWorker([this] { ProcedureT9(); });
}

}  // namespace vel
