#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "common/FunctionRef.h"
#include "engine/EngineContext.h"
#include "engine/TransferPhase.h"

namespace vel {

// The framed block transfer every procedure speaks: frames sent until answered, blocks of
// record frames with their programming wait and result, whole phases with their rules for
// results, and the waits shown in seconds. It works on the link and reports through the two
// interfaces of the context it is given.
class BlockTransfer {
 public:
  explicit BlockTransfer(EngineContext& ctx) : ctx_(ctx) {}

  // Sends the frame until the device acknowledges it (0xFA, or 0xF4 which also reports a
  // programmed block), the protocol byte ends the wait, or the transfer is cancelled. The serial
  // variant asks every 20 tries and reports a short write in a message box; the variant for
  // either link drains stale TCP answers first, asks every 10 tries and logs a short write.
  // *writes (when given) counts the times the frame went out.
  // The status line is `prefix` followed by the try count.
  bool SendFrame(const std::uint8_t* frame, int length, FunctionRef<std::string()> prefix,
                 int position, bool eitherLink, int* writes = nullptr);
  // Sends a phase's blocks; *dataSum takes the data bytes of every record frame that went out.
  // The display learns how far into the plan each answered frame is.
  PhaseOutcome RunPhase(const TransferPhase& phase, std::uint32_t* dataSum = nullptr);
  // A transfer's plan of `frames`, which the phases it runs next send one after another.
  void BeginPlan(long long frames);
  // The frames a phase sends when each of its blocks goes once.
  static long long FramesOf(const TransferPhase& phase);
  // Waits up to `seconds`, shown second by second, for one of the wanted bytes; the byte, or
  // kNoResult.
  int WaitForByte(int seconds, const std::function<std::string(int)>& text, int positionFactor,
                  std::initializer_list<std::uint8_t> wanted);

  static constexpr int kNoResult = -1;

 private:
  enum class BlockOutcome { kSent, kProgrammed, kFrameFailed, kMissingSegment };

  PhaseOutcome RunBlocks(const TransferPhase& phase, std::uint32_t* dataSum);
  // `firstFrame`: the plan's frames before the block.
  BlockOutcome SendBlock(const TransferPhase& phase, const VelMemMap& map, int segment, int block,
                         long long firstFrame, std::uint32_t* sentSum);
  int ProgrammingWait(const TransferPhase& phase, int segment, int block);
  // A wait of `seconds` shown second by second; ends early when `showSecondsLeft` or `takeByte`
  // (given each byte read) says so, or on a cancel.
  void TimedWait(int seconds, const std::function<bool(int)>& showSecondsLeft,
                 const std::function<bool(std::uint8_t)>& takeByte);
  void LogBlockResult(int result, bool showMessage);

  EngineContext& ctx_;
  std::uint8_t lastReply_ = 0;  // the answer that ended the last send-and-wait
  long long framesBefore_ = 0;  // the plan's frames of the phases run before
};

}  // namespace vel
