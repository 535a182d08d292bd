// T11: segments 0 to 3 up to the image's top, five bytes after the run frame, then slot 1.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  build.Context().BuildMapIfMissing(1);
  TransferPhase first = build.SegmentPhase(0, 0, format::kSendingRecordOfN);
  first.segments = {0, 1, 2, 3};
  first.recordsViaLink = false;
  first.showBlockErrors = true;
  first.recordText = [](int s, int b, int p, int r) {
    return Format(format::kSendingRecordOf60, s * 4 + b + 1, p + 1, r + 1);
  };
  first.missingSegmentText = LoadString(ids::kNonExistentSegment);
  return {first, build.SecondImagePhase(16384, 0)};
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  steps.PhaseThenPhase(phases, 5);
}

}  // namespace

extern const TransferProcedure kSegmentsThenImage128k{
    Procedure::kSegmentsThenImage128k, 24576, true, false, text::kSendingHexFile, Phases, Run};

}  // namespace vel::procedures
