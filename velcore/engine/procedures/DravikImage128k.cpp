// T3: the 0x1B handshake (left out by a family without one), then segments 254 and 255.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  TransferPhase phase = build.Kesta128Phase(0, 0, 136);
  phase.segments = {254, 255};
  return {phase};
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  EngineContext& ctx = steps.Context();
  if (!ctx.device->noHandshake) {
    if (!ctx.Handshake(protocol::kSingleUnitProtocol)) {
      steps.EndTransfer(PhaseOutcome::kFailed);
      return;
    }
    ctx.Pause("handshakePause", ctx.timing.handshakePauseMs);
  }
  steps.EndTransfer(steps.Transfer().RunPhase(phases[0]));
}

}  // namespace

extern const TransferProcedure kDravikImage128k{Procedure::kDravikImage128k, 8192,   true, false,
                                                text::kSendingHexFile,       Phases, Run};

}  // namespace vel::procedures
