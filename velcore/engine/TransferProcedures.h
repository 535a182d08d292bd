#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "engine/BlockTransfer.h"
#include "engine/DeviceIdentifier.h"
#include "engine/EngineContext.h"
#include "engine/TransferPhase.h"

namespace vel {

// The transfer procedures of the device families (T1 to T13): what each sends, phase by phase,
// and how each begins and ends. They run on the transfer worker over the block transfer.
class TransferProcedures {
 public:
  TransferProcedures(EngineContext& ctx, BlockTransfer& transfer, DeviceIdentifier& identifier)
      : ctx_(ctx), transfer_(transfer), identifier_(identifier) {}

  // The phases a procedure sends, in order (maps built as needed).
  std::vector<TransferPhase> PhasesOf(Procedure procedure);
  // Refuses (message, failure, end of the operation) when an image the procedure sends holds
  // data outside what it sends.
  bool RefuseDataLeftBehind(const std::vector<TransferPhase>& phases);
  // Runs a procedure to its end; every path ends with the operation's end signalled. Without
  // `tickBox` a success leaves the update-done box as it was.
  void Run(Procedure procedure, bool tickBox = true);

 private:
  // Phases.
  TransferPhase Segment64KPhase(const char* recordFormat) const;
  TransferPhase Kesta128Phase(int slot, int positionBase, int waitFactor) const;
  TransferPhase ShortBlockPhase(int blocks) const;
  TransferPhase SectorPhase() const;
  TransferPhase RegionPhase(int region, int regions) const;
  TransferPhase SecondImagePhase(int positionBase, int shownBefore) const;
  TransferPhase SegmentPhase(int slot, int positionBase, const char* recordFormat) const;

  // Procedures.
  void ProcedureT1();
  void ProcedureT2(bool tickBox);
  void ProcedureT3();
  void ProcedureT4();
  void ProcedureT6();
  void ProcedureT7();
  void ProcedureT8();
  void ProcedureT9();
  void ProcedureT10();
  void ProcedureT11();
  void ProcedureT12();
  void ProcedureT13();
  bool SendUnitImage(bool* cancelled);
  bool SelectNextUnit();

  // Steps between phases and endings.
  bool ConfirmChecksum(std::uint32_t dataSum, int seconds,
                       std::initializer_list<std::uint8_t> answers);
  // The checksum frame, the wait for the device's word on it, then the run frame; "Telvik
  // Programming Fail" when the device did not confirm.
  bool ChecksumThenRun(std::uint32_t dataSum);
  void RunFrameThenSkip(int bytes);
  void WriteRunFrame();
  // "Transmission completed!", the success status and (unless told not to) the ticked box.
  void Succeeded(bool tickBox = true);
  // The run frame, then Succeeded.
  void Finish(bool tickBox = true);
  void Terminated(int statusCode = 0);
  void CloseTransfer();
  // The end of a transfer by its outcome: success, the terminated message (a stop showed its own
  // message already), then the closing steps.
  void EndTransfer(PhaseOutcome outcome, bool tickBox = true);

  EngineContext& ctx_;
  BlockTransfer& transfer_;
  DeviceIdentifier& identifier_;
};

}  // namespace vel
