// T8: as T7, the 0x1B echo, then slot 1's 128 KiB image.
#include "engine/procedures/Procedures.h"

namespace vel::procedures {

namespace {

std::vector<TransferPhase> Phases(PhaseBuilder& build) {
  // Range 8912: the first phase takes positions up to 704, the second 720 onwards.
  build.Context().BuildMapIfMissing(1);
  TransferPhase loader = build.ShortBlockPhase(64);
  loader.idPosition = [](int, int b) { return b * 11; };
  loader.recordPosition = [](int, int b, int, int r) { return b * 11 + r; };
  loader.endPosition = [](int, int b) { return (b + 1) * 11; };
  return {loader, build.Kesta128Phase(1, 720, 136)};
}

void Run(ProcedureSteps& steps, const std::vector<TransferPhase>& phases) {
  EngineContext& ctx = steps.Context();
  std::uint32_t sum = 0;
  if (steps.Transfer().RunPhase(phases[0], &sum) != PhaseOutcome::kComplete) {
    steps.EndTransfer(PhaseOutcome::kFailed);
    return;
  }
  const bool confirmed = steps.ChecksumThenRun(sum);
  std::uint8_t byte = 0;
  ctx.ReadByte(&byte);
  if (!confirmed) {
    // The device did not confirm the first phase: sending the second would not make it whole.
    steps.CloseTransfer();
    return;
  }
  ctx.Pause("escapePause", ctx.timing.escapePauseMs);
  ctx.link.Purge();
  bool echoed = false;
  for (int i = 0; i < kEscapeTries && !echoed && !ctx.Cancelled(); ++i)
    echoed = ctx.Handshake(protocol::kSingleUnitProtocol);
  if (!echoed) {
    ctx.ReportConnectionError();
    steps.CloseTransfer();
    return;
  }
  ctx.Pause("secondPhasePause", ctx.timing.secondPhasePauseMs);
  steps.EndTransfer(steps.Transfer().RunPhase(phases[1]));
}

}  // namespace

extern const TransferProcedure kShortBlocksThenImage128k{
    Procedure::kShortBlocksThenImage128k, 8912, true, false, text::kSendingHexFile, Phases, Run};

}  // namespace vel::procedures
