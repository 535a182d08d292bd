#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/BlockTransfer.h"
#include "engine/DeviceIdentifier.h"
#include "engine/EngineContext.h"
#include "engine/Families.h"
#include "engine/TransferPhases.h"

namespace vel {

// The transfer procedures of the device families: what each does between and around its phases,
// and how each ends. Each runs to its end on the caller's thread and leaves the status code.
class TransferProcedures {
 public:
  TransferProcedures(EngineContext& ctx, BlockTransfer& transfer, DeviceIdentifier& identifier)
      : ctx_(ctx), transfer_(transfer), identifier_(identifier), phases_(ctx) {}

  // Runs the procedure with the phases built and checked for it (PhaseBuilder::PhasesOf), its
  // frames planned first for the share of the update done.
  void Run(Procedure procedure, std::vector<TransferPhase> phases);
  // The records of slot 0 as raw Intel HEX lines, each sent until the device takes it.
  void SendUnformatted();
  PhaseBuilder& Phases() { return phases_; }

 private:
  void PageRangeImage64k();
  void Image128k();
  void DravikImage128k();
  void DravikSectorsThenImage();
  void UserStationRegions();
  void ShortBlocks();
  void ShortBlocksThenImage128k();
  void HubShortBlocks();
  void PageRangeThenImage128k();
  void SegmentsThenImage128k();
  void UnitImages();
  void LoaderImages();
  // The frames the procedure sends when each block goes once.
  long long PlannedFrames(Procedure procedure);
  bool SendUnitImage(bool* cancelled);
  // The planned phase that sends image `slot` to a unit, or null.
  const TransferPhase* PlannedImage(int slot) const;
  bool SelectNextUnit();
  // The device's word on a line of the unformatted send: 0xFA, 0xFE, the protocol byte, or -1
  // when the operator gave up on its silence or a cancel came. `unanswered` counts the silent
  // reads and repeats of the line.
  int AwaitLineAnswer(int* unanswered);

  // Steps between phases and endings.
  bool ConfirmChecksum(std::uint32_t dataSum, int seconds,
                       std::initializer_list<std::uint8_t> answers);
  // The checksum frame, the wait for the device's word on it, then the run frame; "Telvik
  // Programming Fail" when the device did not confirm.
  bool ChecksumThenRun(std::uint32_t dataSum);
  void RunFrameThenSkip(int bytes);
  void WriteRunFrame();
  // "Transmission completed!" and the success status; every unit whose image began to go out
  // is programmed.
  void Succeeded();
  // A procedure that sends to the device as a whole begins on each unit selected.
  void BeginOnTheWholeDevice();
  // The run frame, then Succeeded.
  void Finish();
  void Terminated(int statusCode = 0);
  // Why the device's answer did not come: it closed the connection, or it stayed silent.
  std::string NoAnswerText();
  void CloseTransfer();
  // The end of a transfer by its outcome: success, the terminated message (a stop showed its own
  // message already), then the closing steps.
  void EndTransfer(PhaseOutcome outcome);

  EngineContext& ctx_;
  BlockTransfer& transfer_;
  DeviceIdentifier& identifier_;
  PhaseBuilder phases_;
  std::vector<TransferPhase> planned_;  // the phases of the procedure running
};

}  // namespace vel
