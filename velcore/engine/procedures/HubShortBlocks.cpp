// T9: 128-byte blocks up to the image's top, the checksum, then the hub's restart pause.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  TransferPhase phase =
      build.ShortBlockPhase(build.Context().file.MemMap(0)->TopAddress() / 128 + 1);
  phase.sendsUpToTopAddress = true;
  return {phase};
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  EngineContext& ctx = steps.Context();
  std::uint32_t sum = 0;
  if (steps.Transfer().RunPhase(phases[0], &sum) != PhaseOutcome::kComplete) {
    ctx.op.ShowMessage(std::string(text::kTerminatedHub));
  } else {
    // The hub restarts after the run frame whatever it said of the checksum: the port stays
    // open until it has.
    const bool confirmed = steps.ChecksumThenRun(sum);
    if (ctx.Pause("hubRestartPause", ctx.timing.hubRestartPauseMs) && confirmed) {
      steps.Succeeded();
    }
  }
  steps.CloseTransfer();
}

}  // namespace

extern const TransferProcedure kHubShortBlocks{Procedure::kHubShortBlocks, 4096,   true, false,
                                               text::kSendingVelHexFile,   Phases, Run};

}  // namespace vel::procedures
