// The steps the transfer procedures share, and the unformatted send.
#include "engine/ProcedureSteps.h"

#include <algorithm>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"

namespace vel {

bool ProcedureSteps::ChecksumThenRun(std::uint32_t dataSum) {
  const bool confirmed = ConfirmChecksum(dataSum, ctx_.timing.checksumWaitSeconds,
                                         {protocol::kAck, protocol::kAskAgain});
  WriteRunFrame();
  if (!confirmed) ctx_.op.ShowMessage(std::string(text::kTelvikFail));
  return confirmed;
}

bool ProcedureSteps::ConfirmChecksum(std::uint32_t dataSum, int seconds,
                                     std::initializer_list<std::uint8_t> answers) {
  // Answers still on their way for earlier frames must not pass for the device's word.
  ctx_.link.Purge();
  const auto frame = protocol::ChecksumFrame(static_cast<std::uint16_t>(dataSum));
  ctx_.Write(frame.data(), static_cast<int>(frame.size()));
  const int answer = transfer_.WaitForByte(
      seconds, [](int t) { return Format(format::kWaitingChecksum, t); }, 34, answers);
  return answer == protocol::kAck;
}

void ProcedureSteps::RunFrameThenSkip(int bytes) {
  WriteRunFrame();
  for (int i = 0; i < bytes; ++i) {
    std::uint8_t ignored = 0;
    ctx_.ReadByte(&ignored);
  }
}

std::string ProcedureSteps::NoAnswerText() {
  return std::string(ctx_.link.ConnectionDropped() ? text::kConnectionClosed : text::kUnitTimeout);
}

void ProcedureSteps::CloseTransfer() {
  ctx_.link.Purge();
  ctx_.display.EndProgress();
}

void ProcedureSteps::WriteRunFrame() {
  ctx_.Write(protocol::kRunFrame.data(), static_cast<int>(protocol::kRunFrame.size()));
}

void ProcedureSteps::Succeeded() {
  ctx_.display.CompletePlan();
  ctx_.display.SetProgress(0, LoadString(ids::kTransmissionCompleted));
  ctx_.SetStatusCode(ids::kUpdateSuccessful);
  for (UnitOutcome& outcome : ctx_.unitOutcomes) {
    if (outcome == UnitOutcome::kFailedPartWay) outcome = UnitOutcome::kProgrammed;
  }
}

void ProcedureSteps::BeginOnTheWholeDevice() {
  const int units = std::min(ctx_.identity.unitCount, kMaxUnits);
  bool any = false;
  for (int u = 0; u < units; ++u) {
    if (ctx_.identity.unitSelected[static_cast<std::size_t>(u)] != 1) continue;
    ctx_.unitOutcomes[static_cast<std::size_t>(u)] = UnitOutcome::kFailedPartWay;
    any = true;
  }
  // An exchange that selects no unit updates the device as its unit 0.
  if (!any && units > 0) ctx_.unitOutcomes[0] = UnitOutcome::kFailedPartWay;
}

void ProcedureSteps::Finish() {
  WriteRunFrame();
  Succeeded();
}

void ProcedureSteps::Terminated(int statusCode) {
  ctx_.op.ShowMessage(LoadString(ids::kTransmissionTerminated));
  if (statusCode != 0) ctx_.SetStatusCode(statusCode);
}

void ProcedureSteps::PhaseThenPhase(const std::vector<TransferPhase>& phases, int bytesBetween) {
  PhaseOutcome outcome = transfer_.RunPhase(phases[0]);
  if (outcome == PhaseOutcome::kComplete) {
    RunFrameThenSkip(bytesBetween);
    outcome = transfer_.RunPhase(phases[1]);
  }
  EndTransfer(outcome);
}

void ProcedureSteps::EndTransfer(PhaseOutcome outcome) {
  if (outcome == PhaseOutcome::kComplete) {
    Finish();
  } else if (outcome != PhaseOutcome::kStopped) {  // a stop has shown its own message
    Terminated();
  }
  CloseTransfer();
}

const TransferPhase* ProcedureSteps::PlannedImage(int slot) const {
  const auto found =
      std::find_if(planned_.begin(), planned_.end(),
                   [slot](const TransferPhase& phase) { return phase.slot == slot; });
  return found == planned_.end() ? nullptr : &*found;
}

long long ProcedureSteps::PlannedFrames(const TransferProcedure& procedure) {
  if (procedure.plannedFrames != nullptr) return procedure.plannedFrames(*this);
  long long frames = 0;
  for (const TransferPhase& phase : planned_) frames += BlockTransfer::FramesOf(phase);
  return frames;
}

void ProcedureSteps::Run(const TransferProcedure& procedure, std::vector<TransferPhase> phases) {
  planned_ = std::move(phases);
  if (!procedure.unitByUnit) BeginOnTheWholeDevice();
  transfer_.BeginPlan(PlannedFrames(procedure));
  procedure.run(*this, planned_);
}

void ProcedureSteps::SendUnformatted() {
  const int total = ctx_.file.RecordCount(0);
  ctx_.display.BeginProgress(1, total, Format(format::kSendingFirstRecordLine, total), 1);
  ctx_.display.PlanFrames(total);
  const VelHexFile* node = ctx_.file.Chain(0);
  std::string line;
  int taken = 0;         // lines the device took (0xFE after each)
  int unanswered = 0;    // silent reads and repeats since the device last took a line
  bool pending = false;  // `line` still waits to be taken
  while (!ctx_.Cancelled()) {
    if (!pending) {
      if (node == nullptr) break;
      node = node->TakeLine(&line);
      pending = true;
      unanswered = 0;
    }
    ctx_.link.LinkWrite(reinterpret_cast<const std::uint8_t*>(line.data()),
                        static_cast<int>(line.size()));
    ctx_.display.SetStatus(Format(format::kSendingRecordLine, taken + 1, total));
    const int answer = AwaitLineAnswer(&unanswered);
    if (answer == protocol::kAskAgain) {
      ctx_.display.FramesSent(++taken);
      pending = false;
    } else if (answer != protocol::kAck) {
      break;  // the protocol byte, or the operator gave up
    } else if (++unanswered % kNotRespondingEveryTries == 0 && ctx_.GiveUpOnSilence()) {
      break;  // a line the device keeps asking for
    }
  }
  // Complete when every line was taken once; a cancel leaves the device without the rest.
  const bool complete = taken == total && !pending && !ctx_.Cancelled();
  if (complete) ctx_.display.CompletePlan();
  ctx_.display.EndProgress();
  ctx_.SetStatusCode(complete ? ids::kUpdateSuccessful : ids::kUpdateFailed);
  ctx_.op.ShowMessage(complete ? Format(format::kUnformattedCompleted, taken)
                               : std::string(text::kUnformattedNotCompleted));
}

int ProcedureSteps::AwaitLineAnswer(int* unanswered) {
  // 0xFA asks for the line again, 0xFE takes it, the protocol byte ends the send; other bytes
  // are passed over. A device may stay silent for long after a line (erasing its flash): it is
  // waited for without end, and only every kNotRespondingEveryTries silent reads is the operator
  // asked whether to give up (-1).
  while (!ctx_.Cancelled()) {
    std::uint8_t reply = 0;
    if (ctx_.ReadByte(&reply) != 1) {
      if (++*unanswered % kNotRespondingEveryTries == 0 && ctx_.GiveUpOnSilence()) return -1;
      continue;
    }
    if (reply == protocol::kAck || reply == protocol::kAskAgain || reply == ctx_.protocolByte) {
      return reply;
    }
  }
  return -1;
}

}  // namespace vel
