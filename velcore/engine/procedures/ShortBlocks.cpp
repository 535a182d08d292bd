// T7: 128-byte blocks of segment 0xFF, a 16-bit checksum, the run frame.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) { return {build.ShortBlockPhase(64)}; }

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  std::uint32_t sum = 0;
  if (steps.Transfer().RunPhase(phases[0], &sum) != PhaseOutcome::kComplete) {
    steps.Terminated();
  } else if (steps.ChecksumThenRun(sum)) {
    steps.Succeeded();
  }
  steps.CloseTransfer();
}

}  // namespace

extern const TransferProcedure kShortBlocks{Procedure::kShortBlocks, 4096,   true, false,
                                            text::kSendingHexFile,   Phases, Run};

}  // namespace vel::procedures
