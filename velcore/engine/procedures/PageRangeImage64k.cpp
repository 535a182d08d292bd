// T1: the 64 KiB image of segment 0xFF in four page-range blocks.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  TransferPhase phase = build.Segment64KPhase(format::kSendingRecordOf24);
  phase.showBlockErrors = false;
  return {phase};
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  steps.EndTransfer(steps.Transfer().RunPhase(phases[0]));
}

}  // namespace

extern const TransferProcedure kPageRangeImage64k{
    Procedure::kPageRangeImage64k, 4096, true, false, text::kSendingHexFile, Phases, Run};

}  // namespace vel::procedures
