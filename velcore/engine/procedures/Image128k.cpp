// T2: segments 254 and 255 of the 128 KiB image, blank records sent as zeros.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) { return {build.Kesta128Phase(0, 0, 136)}; }

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  EngineContext& ctx = steps.Context();
  ctx.Pause("firstFramePause", ctx.timing.firstFramePauseMs);
  steps.EndTransfer(steps.Transfer().RunPhase(phases[0]));
}

}  // namespace

extern const TransferProcedure kImage128k{Procedure::kImage128k, 8192,   true, true,
                                          text::kSendingHexFile, Phases, Run};

}  // namespace vel::procedures
