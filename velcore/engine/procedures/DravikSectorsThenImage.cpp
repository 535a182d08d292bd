// T4: the 0x1F handshake, six 1 KiB-block sectors of slot 1, their checksum, then the image.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  build.Context().BuildMapIfMissing(1);
  TransferPhase image = build.Kesta128Phase(0, 24576, 546);
  image.segments = {254, 255};
  return {build.SectorPhase(), image};
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  EngineContext& ctx = steps.Context();
  if (!ctx.Handshake(0x1F)) {
    steps.EndTransfer(PhaseOutcome::kFailed);
    return;
  }
  ctx.Pause("handshakePause", ctx.timing.handshakePauseMs);
  std::uint32_t sum = 0;
  // A skipped sector (the device's 0xFD, "please update again") leaves the device incomplete:
  // never a success.
  bool ok = steps.Transfer().RunPhase(phases[0], &sum) == PhaseOutcome::kComplete;
  // The run frame and the second phase follow only a confirmed checksum here.
  // 0xFE refuses the sum at once: waiting on for a 0xFA that will not come helps nobody.
  if (ok && steps.ConfirmChecksum(sum & 0xFF, ctx.timing.sectorChecksumWaitSeconds,
                                  {protocol::kAck, protocol::kAskAgain})) {
    steps.WriteRunFrame();
  } else if (ok) {
    ctx.op.ShowMessage(std::string(text::kTelvikFail));
    ok = false;
  }
  PhaseOutcome second = PhaseOutcome::kFailed;
  if (ok) {
    ctx.Pause("phasePause", ctx.timing.phasePauseMs);
    ctx.link.Purge();
    second = steps.Transfer().RunPhase(phases[1]);
  }
  steps.EndTransfer(second);
}

}  // namespace

extern const TransferProcedure kDravikSectorsThenImage{
    Procedure::kDravikSectorsThenImage, 33488, true, false, text::kSendingHexFile, Phases, Run};

}  // namespace vel::procedures
