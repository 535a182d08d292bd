// T10: as T1, three bytes after the run frame, then slot 1's 128 KiB image.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  // Blocks 1 to 4 as T1 sends them, then slot 1's 128 KiB as blocks 5 to 12.
  build.Context().BuildMapIfMissing(1);
  TransferPhase first = build.Segment64KPhase(format::kSendingRecordOf12);
  first.onF7 = OnProgrammingError::kEndTransfer;
  return {first, build.SecondImagePhase(4096, 4)};
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  steps.PhaseThenPhase(phases, 3);
}

}  // namespace

extern const TransferProcedure kPageRangeThenImage128k{
    Procedure::kPageRangeThenImage128k, 12288, true, false, text::kSendingHexFile, Phases, Run};

}  // namespace vel::procedures
