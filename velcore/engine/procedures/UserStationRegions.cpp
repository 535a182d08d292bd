// T6: every image slot as a region of 1 KiB page-range blocks, each region confirmed.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  std::vector<TransferPhase> regions;
  const int count = build.Context().file.ImageCount();
  for (int region = 0; region < count; ++region) {
    build.Context().BuildMapIfMissing(region);
    regions.push_back(build.RegionPhase(region, count));
  }
  return regions;
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& regions) {
  EngineContext& ctx = steps.Context();
  bool ok = true;
  for (std::size_t region = 0; region < regions.size() && ok; ++region) {
    ok = steps.Transfer().RunPhase(regions[region]) == PhaseOutcome::kComplete;
    if (!ok) break;
    steps.WriteRunFrame();
    if (region > 0 &&
        steps.Transfer().WaitForByte(ctx.timing.confirmationSeconds,
                                     [](int t) { return Format(format::kWaitingForZandor, t); }, 68,
                                     {protocol::kAck}) == BlockTransfer::kNoResult) {
      if (!ctx.Cancelled()) ctx.op.ShowMessage(steps.NoAnswerText());
      ok = false;
    }
  }
  if (ok) {
    const auto closing = protocol::ChecksumFrame(0);
    ctx.Write(closing.data(), static_cast<int>(closing.size()));
    steps.Succeeded();
  }
  steps.CloseTransfer();
}

}  // namespace

extern const TransferProcedure kUserStationRegions{
    Procedure::kUserStationRegions, 4096, true, false, text::kSendingHexFile, Phases, Run};

}  // namespace vel::procedures
