#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/BlockTransfer.h"
#include "engine/DeviceIdentifier.h"
#include "engine/EngineContext.h"
#include "engine/TransferPhases.h"
#include "engine/TransferProcedure.h"

namespace vel {

// What the transfer procedures share: their steps between and around phases, and how they end.
// A procedure (engine/procedures/) runs to its end on the caller's thread through these steps
// and leaves the status code.
class ProcedureSteps {
 public:
  ProcedureSteps(EngineContext& ctx, BlockTransfer& transfer, DeviceIdentifier& identifier)
      : ctx_(ctx), transfer_(transfer), identifier_(identifier), phases_(ctx) {}

  // Runs the procedure with the phases built and checked for it (PhaseBuilder::PhasesOf), its
  // frames planned first for the share of the update done.
  void Run(const TransferProcedure& procedure, std::vector<TransferPhase> phases);
  // The records of slot 0 as raw Intel HEX lines, each sent until the device takes it.
  void SendUnformatted();
  PhaseBuilder& Phases() { return phases_; }

  EngineContext& Context() { return ctx_; }
  BlockTransfer& Transfer() { return transfer_; }
  DeviceIdentifier& Identifier() { return identifier_; }
  // The planned phase that sends image `slot` to a unit, or null.
  const TransferPhase* PlannedImage(int slot) const;

  // The checksum frame, then the wait for one of `answers`; true when the device said 0xFA.
  bool ConfirmChecksum(std::uint32_t dataSum, int seconds,
                       std::initializer_list<std::uint8_t> answers);
  // The checksum frame, the wait for the device's word on it, then the run frame; "Telvik
  // Programming Fail" when the device did not confirm.
  bool ChecksumThenRun(std::uint32_t dataSum);
  // The run frame, then `bytes` reads whose bytes are passed over.
  void RunFrameThenSkip(int bytes);
  void WriteRunFrame();
  // "Transmission completed!" and the success status; every unit whose image began to go out
  // is programmed.
  void Succeeded();
  // The run frame, then Succeeded.
  void Finish();
  void Terminated(int statusCode = 0);
  // Why the device's answer did not come: it closed the connection, or it stayed silent.
  std::string NoAnswerText();
  void CloseTransfer();
  // The first phase; when it went whole, the run frame with `bytesBetween` answer bytes passed
  // over and the second phase; then the end of the transfer.
  void PhaseThenPhase(const std::vector<TransferPhase>& phases, int bytesBetween);
  // The end of a transfer by its outcome: success, the terminated message (a stop showed its own
  // message already), then the closing steps.
  void EndTransfer(PhaseOutcome outcome);

 private:
  // A procedure that sends to the device as a whole begins on each unit selected.
  void BeginOnTheWholeDevice();
  // The frames the procedure sends when each block goes once.
  long long PlannedFrames(const TransferProcedure& procedure);
  // The device's word on a line of the unformatted send: 0xFA, 0xFE, the protocol byte, or -1
  // when the operator gave up on its silence or a cancel came. `unanswered` counts the silent
  // reads and repeats of the line.
  int AwaitLineAnswer(int* unanswered);

  EngineContext& ctx_;
  BlockTransfer& transfer_;
  DeviceIdentifier& identifier_;
  PhaseBuilder phases_;
  std::vector<TransferPhase> planned_;  // the phases of the procedure running
};

}  // namespace vel
