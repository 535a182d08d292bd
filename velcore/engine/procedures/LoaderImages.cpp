// T13: slot 0, the loader's 27-byte reply to an escape, then slot 1.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  build.Context().BuildMapIfMissing(1);
  return {build.SegmentPhase(0, 0, format::kSendingRecordOfN),
          build.SegmentPhase(1, 0, format::kSendingRecordOfN)};
}

// The loader answers an escape with a reply of 27 bytes (recognised by its length only).
bool LoaderAnswered(EngineContext& ctx) {
  for (int i = 0; i < kLoaderEscapeTries && !ctx.Cancelled(); ++i) {
    ctx.link.Purge();
    const std::uint8_t escape = protocol::kSingleUnitProtocol;
    ctx.Write(&escape, 1);
    std::uint8_t reply[30];
    if (ctx.link.LinkRead(reply, sizeof reply) == protocol::kLoaderReplySize) return true;
  }
  return false;
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  EngineContext& ctx = steps.Context();
  bool ok = steps.Transfer().RunPhase(phases[0]) == PhaseOutcome::kComplete;
  if (ok) {
    steps.RunFrameThenSkip(2);
    ok = LoaderAnswered(ctx);
    if (ok) {
      const std::uint8_t go = protocol::kAck;
      ctx.Write(&go, 1);
      ok = steps.Transfer().RunPhase(phases[1]) == PhaseOutcome::kComplete;
    }
  }
  if (ok) {
    steps.Finish();
  } else {
    steps.Terminated(ids::kTransmissionTerminated);
  }
  steps.CloseTransfer();
}

}  // namespace

extern const TransferProcedure kLoaderImages{Procedure::kLoaderImages, 0,      false, false,
                                             text::kSendingHexFile,    Phases, Run};

}  // namespace vel::procedures
