// The framed block transfer: send-and-wait, one block, the programming wait, a phase.
#include "engine/BlockTransfer.h"

#include <algorithm>
#include <functional>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"

namespace vel {

bool BlockTransfer::SendFrame(const std::uint8_t* frame, int length,
                              FunctionRef<std::string()> prefix, int position, bool eitherLink,
                              int* writes) {
  const bool tcp = ctx_.link.Kind() == LinkKind::kTcp;
  // Bytes waiting before the frame goes out cannot answer it: answers that came late or twice
  // for an earlier frame must not count for this one, on either link.
  std::uint8_t stale = 0;
  while (ctx_.link.ReadableNow() && ctx_.ReadByte(&stale) == 1) {
  }
  const int askEvery = eitherLink ? kNotRespondingEveryTriesLink : kNotRespondingEveryTries;
  std::uint8_t reply = 0;
  int tries = 0;
  bool lastRead = false;
  while (reply != ctx_.protocolByte && reply != protocol::kAck &&
         reply != protocol::kBlockProgrammed && !ctx_.Cancelled()) {
    if (ctx_.link.ConnectionDropped()) {
      // A new connection would reach a device that no longer knows this transfer.
      ctx_.display.AppendMessage(std::string(text::kConnectionClosed));
      lastRead = false;
      break;
    }
    ++tries;
    if (tries % askEvery == 0 && ctx_.GiveUpOnSilence()) {
      if (eitherLink) {
        ctx_.SetStatusCode(ids::kUpdateFailed);
        break;
      }
    }
    const int written = ctx_.link.LinkWrite(frame, length);
    if (writes != nullptr) ++*writes;
    if (written < length) {
      const std::string warning =
          Format(LoadString(tcp ? ids::kTcpNotAccepting : ids::kSerialNotAccepting).c_str(),
                 written, ctx_.link.LastWriteError());
      if (eitherLink) {
        ctx_.display.AppendMessage(warning);
      } else {
        ctx_.op.ShowMessage(warning + "\"");
      }
    }
    ctx_.display.SetProgressLazily(position, [&] { return prefix() + std::to_string(tries); });
    std::uint8_t byte = 0;
    lastRead = ctx_.ReadByte(&byte) == 1;
    if (lastRead) reply = byte;
  }
  lastReply_ = reply;
  return lastRead && (reply == protocol::kAck || reply == protocol::kBlockProgrammed) &&
         !ctx_.Cancelled();
}

namespace {

struct Layout {
  PacketOptions options;
  int pages;
  int recordsPerPage;
};

Layout LayoutOf(Geometry geometry) {
  switch (geometry) {
    case Geometry::kPageRelative16K:
      return {{.pageOnlyAddress = true}, 64, 16};
    case Geometry::kFull16K:
      return {{}, 64, 16};
    case Geometry::kPageRelative1K:
      return {{.pageOnlyAddress = true, .fourPageBlocks = true}, 4, 16};
    case Geometry::kFull1K:
      return {{.fourPageBlocks = true, .blockRelativeFourPage = true}, 4, 16};
    case Geometry::k128:
      return {{.blocks128 = true}, 1, 8};
  }
  return {{}, 64, 16};
}

std::array<std::uint8_t, protocol::kBlockIdFrameSize> BlockIdFrame(BlockIdStyle style, int segment,
                                                                   int block) {
  switch (style) {
    case BlockIdStyle::kPageRange16K:
      return protocol::PageRangeBlockId(block * 64, block * 64 + 63);
    case BlockIdStyle::kPageRange1K:
      return protocol::PageRangeBlockId(block * 4, block * 4 + 3);
    case BlockIdStyle::kSegment:
      break;
  }
  return protocol::SegmentBlockId(segment);
}

std::optional<std::string_view> BlockErrorBox(int result) {
  switch (result) {
    case protocol::kEraseError:
      return text::kErrorF6Box;
    case protocol::kProgrammingError:
      return text::kErrorF7Box;
    case protocol::kBlockCheckError:
      return text::kErrorF8Box;
    default:
      return std::nullopt;
  }
}

std::size_t BlockSize(Geometry geometry) {
  switch (geometry) {
    case Geometry::kPageRelative16K:
    case Geometry::kFull16K:
      return 16384;
    case Geometry::kPageRelative1K:
    case Geometry::kFull1K:
      return 1024;
    case Geometry::k128:
      return 128;
  }
  return 16384;
}

long long FramesPerBlock(Geometry geometry) {
  const Layout layout = LayoutOf(geometry);
  return 2 + static_cast<long long>(layout.pages) * layout.recordsPerPage;  // ID, records, end
}

}  // namespace

std::vector<SentRange> SentRanges(const TransferPhase& phase) {
  std::vector<SentRange> ranges;
  const std::size_t size = BlockSize(phase.geometry);
  for (const int segment : phase.segments) {
    for (int block = 0; block < phase.blocksPerSegment; ++block) {
      const std::size_t begin = static_cast<std::size_t>(block) * size;
      ranges.push_back({segment, begin, std::min(begin + size, kSegmentSize)});
      if (phase.lastBlock && *phase.lastBlock == std::make_pair(segment, block)) return ranges;
    }
  }
  return ranges;
}

std::optional<std::pair<int, std::size_t>> FirstDataOutside(const VelMemMap& map,
                                                            const std::vector<SentRange>& sent,
                                                            bool uptoTopAddress) {
  constexpr std::size_t kRecord = 16;
  constexpr std::size_t kBeyondExtent = 0xFC00;
  for (int segment = 0; segment < 256; ++segment) {
    const VelSegment* data = map.Segment(static_cast<std::uint8_t>(segment));
    if (data == nullptr) continue;
    for (std::size_t offset = 0; offset < kSegmentSize; offset += kRecord) {
      if (!data->dataRecords.test(offset / kRecord)) continue;
      if (uptoTopAddress && segment == map.TopSegment() && offset >= kBeyondExtent) continue;
      const bool covered = std::any_of(sent.begin(), sent.end(), [&](const SentRange& r) {
        return r.segment == segment && offset >= r.begin && offset < r.end;
      });
      if (!covered) return std::make_pair(segment, offset);
    }
  }
  return std::nullopt;
}

long long BlockTransfer::FramesOf(const TransferPhase& phase) {
  return static_cast<long long>(SentRanges(phase).size()) * FramesPerBlock(phase.geometry);
}

void BlockTransfer::BeginPlan(long long frames) {
  framesBefore_ = 0;
  ctx_.display.PlanFrames(frames);
}

BlockTransfer::BlockOutcome BlockTransfer::SendBlock(const TransferPhase& phase,
                                                     const VelMemMap& map, int segment, int block,
                                                     long long firstFrame, std::uint32_t* sentSum) {
  long long framesSent = firstFrame;
  const auto send = [&](bool viaLink, const std::uint8_t* frame, int length,
                        FunctionRef<std::string()> prefix, int position, int* writes = nullptr) {
    const bool answered = SendFrame(frame, length, prefix, position, viaLink, writes);
    if (answered) ctx_.display.FramesSent(++framesSent);
    return answered;
  };
  if (phase.pauseBeforeBlockId) ctx_.Pause("blockIdPause", kBlockIdPauseMs);
  const auto blockId = BlockIdFrame(phase.blockIdStyle, segment, block);
  if (!send(
          phase.idAndEndViaLink, blockId.data(), static_cast<int>(blockId.size()),
          [&] { return phase.idText(segment, block); }, phase.idPosition(segment, block))) {
    return BlockOutcome::kFrameFailed;
  }
  const Layout layout = LayoutOf(phase.geometry);
  std::uint8_t packet[protocol::kRecordFrameSize];
  for (int page = 0; page < layout.pages; ++page) {
    for (int record = 0; record < layout.recordsPerPage; ++record) {
      map.MakeRecordPacket(static_cast<std::uint8_t>(segment), block, page, record, packet,
                           layout.options);
      if (packet[3] == 0xFF) {
        ctx_.op.ShowMessage(phase.missingSegmentText);
        return BlockOutcome::kMissingSegment;
      }
      if (phase.blankRecordsAsZero &&
          std::all_of(packet + 4, packet + 20, [](std::uint8_t b) { return b == 0xFF; })) {
        std::fill(packet + 4, packet + 20, 0x00);
        packet[20] = protocol::FrameChecksum(packet, 20);
      }
      int writes = 0;
      const bool acknowledged = send(
          phase.recordsViaLink, packet, protocol::kRecordFrameSize,
          [&] { return phase.recordText(segment, block, page, record); },
          phase.recordPosition(segment, block, page, record), &writes);
      // The running sum of the checksum frame takes every record frame that went out.
      std::uint32_t dataBytes = 0;
      for (int i = 4; i < 20; ++i) dataBytes += packet[i];
      *sentSum += dataBytes * static_cast<std::uint32_t>(writes);
      if (!acknowledged) return BlockOutcome::kFrameFailed;
    }
  }
  if (!send(
          phase.idAndEndViaLink, protocol::kEndOfBlockFrame.data(),
          static_cast<int>(protocol::kEndOfBlockFrame.size()),
          [&] { return phase.endText(segment, block); }, phase.endPosition(segment, block))) {
    return BlockOutcome::kFrameFailed;
  }
  // 0xF4 as the answer to the end of block already reports the block programmed (its 0xFA was
  // lost on the way); waiting for a second result would wait for nothing.
  return lastReply_ == protocol::kBlockProgrammed ? BlockOutcome::kProgrammed : BlockOutcome::kSent;
}

int BlockTransfer::ProgrammingWait(const TransferPhase& phase, int segment, int block) {
  int last = kNoResult;
  bool askedAt40 = false, askedAt20 = false;
  TimedWait(
      ctx_.timing.programmingWaitSeconds,
      [&](int secondsLeft) {
        ctx_.display.SetProgress(secondsLeft * phase.waitPositionFactor,
                                 phase.waitText(segment, block, secondsLeft));
        bool& asked = secondsLeft <= 20 ? askedAt20 : askedAt40;
        if (phase.askWhileWaiting && secondsLeft <= 40 && !asked) {
          asked = true;
          return ctx_.GiveUpOnSilence();
        }
        return false;
      },
      [&](std::uint8_t byte) {
        last = byte;
        return protocol::IsBlockResult(byte) ||
               (byte == protocol::kUpdateAgain && phase.onFD != OnUpdateAgain::kNotExpected);
      });
  return last;
}

PhaseOutcome BlockTransfer::RunPhase(const TransferPhase& phase, std::uint32_t* dataSum) {
  const PhaseOutcome outcome = RunBlocks(phase, dataSum);
  framesBefore_ += FramesOf(phase);
  return outcome;
}

PhaseOutcome BlockTransfer::RunBlocks(const TransferPhase& phase, std::uint32_t* dataSum) {
  ctx_.imagesSent |= 1u << phase.slot;
  ctx_.BuildMapIfMissing(phase.slot);
  const VelMemMap& map = *ctx_.file.MemMap(phase.slot);
  std::uint32_t unusedSum = 0;
  std::uint32_t* sentSum = dataSum != nullptr ? dataSum : &unusedSum;
  // The block that keeps failing, and how often in a row it has.
  std::pair<int, int> failing{-1, -1};
  int failures = 0;
  bool segmentSkipped = false;
  for (std::size_t s = 0; s < phase.segments.size(); ++s) {
    const int segment = phase.segments[s];
    for (int block = 0; block < phase.blocksPerSegment;) {
      // The plan's frames before this block: every block before it in the phase went once.
      const long long blocksBefore = static_cast<long long>(s) * phase.blocksPerSegment + block;
      const long long firstFrame = framesBefore_ + blocksBefore * FramesPerBlock(phase.geometry);
      const BlockOutcome sent = SendBlock(phase, map, segment, block, firstFrame, sentSum);
      if (ctx_.Cancelled()) return PhaseOutcome::kCancelled;
      if (sent == BlockOutcome::kMissingSegment) return PhaseOutcome::kFailed;
      if (sent == BlockOutcome::kFrameFailed) return PhaseOutcome::kFailed;
      const int result = sent == BlockOutcome::kProgrammed ? protocol::kBlockProgrammed
                                                           : ProgrammingWait(phase, segment, block);
      if (ctx_.Cancelled()) return PhaseOutcome::kCancelled;
      if (result == protocol::kBlockProgrammed) {
        if (failing == std::make_pair(segment, block)) failures = 0;
        if (phase.lastBlock && *phase.lastBlock == std::make_pair(segment, block)) {
          return PhaseOutcome::kComplete;
        }
        ++block;
        continue;
      }
      if (result == protocol::kUpdateAgain && phase.onFD != OnUpdateAgain::kNotExpected) {
        ctx_.op.ShowMessage(std::string(text::kPleaseUpdateAgain));
        if (phase.onFD == OnUpdateAgain::kEndIncomplete) return PhaseOutcome::kUpdateAgain;
        segmentSkipped = true;
        break;  // the rest of this segment is skipped
      }
      if (result == kNoResult) {
        if (phase.timeoutCancels) {
          ctx_.op.ShowMessage(Format(format::kRegionTimeout, phase.slot + 1, block + 1));
          ctx_.RequestCancel();
          return PhaseOutcome::kCancelled;
        }
        // Silence for the whole wait is not a programmed block.
        ctx_.display.AppendMessage(std::string(text::kNoProgrammingResult));
        return PhaseOutcome::kFailed;
      }
      LogBlockResult(result, phase.showBlockErrors);
      if (phase.onError == OnBlockError::kStop) return PhaseOutcome::kStopped;
      failures = failing == std::make_pair(segment, block) ? failures + 1 : 1;
      failing = {segment, block};
      if (failures >= kMaxBlockFailures) {
        ctx_.display.AppendMessage(Format(LoadString(ids::kBlockKeepsFailing).c_str(), block + 1,
                                          segment, failures, result));
        return PhaseOutcome::kFailed;
      }
      if (result == protocol::kProgrammingError) {
        switch (phase.onF7) {
          case OnProgrammingError::kLikeOthers:
            continue;
          case OnProgrammingError::kRestartSegment:
            block = 0;
            continue;
          case OnProgrammingError::kEndTransfer:
            return PhaseOutcome::kFailed;
        }
      }
    }
  }
  // A skipped sector leaves the device without part of its image: never complete.
  if (segmentSkipped) return PhaseOutcome::kUpdateAgain;
  // A phase that names its last block is complete only when that block was programmed.
  return phase.lastBlock ? PhaseOutcome::kFailed : PhaseOutcome::kComplete;
}

int BlockTransfer::WaitForByte(int seconds, const std::function<std::string(int)>& text,
                               int positionFactor, std::initializer_list<std::uint8_t> wanted) {
  int answer = kNoResult;
  TimedWait(
      seconds,
      [&](int secondsLeft) {
        ctx_.display.SetProgress(secondsLeft * positionFactor, text(secondsLeft));
        return false;
      },
      [&](std::uint8_t byte) {
        if (std::find(wanted.begin(), wanted.end(), byte) == wanted.end()) return false;
        answer = byte;
        return true;
      });
  return answer;
}

void BlockTransfer::TimedWait(int seconds, const std::function<bool(int)>& showSecondsLeft,
                              const std::function<bool(std::uint8_t)>& takeByte) {
  // A wait shown in seconds is counted in reads, one a second, each as long as the link's own
  // read: a second on a serial line, up to seven empty 400 ms waits on TCP. Time spent on a
  // question to the operator is never taken from the device.
  for (int secondsLeft = seconds; secondsLeft > 0 && !ctx_.Cancelled(); --secondsLeft) {
    if (showSecondsLeft(secondsLeft)) break;
    std::uint8_t byte = 0;
    if (ctx_.link.LinkReadWithin(&byte, 1, ctx_.link.ReadTimeoutMs()) == 1 && takeByte(byte)) {
      break;
    }
  }
}

void BlockTransfer::LogBlockResult(int result, bool showMessage) {
  ctx_.display.AppendMessage(std::string(text::kBlockError));
  switch (result) {
    case protocol::kEraseError:
      ctx_.display.AppendMessage(std::string(text::kBlockErrorF6));
      break;
    case protocol::kProgrammingError:
      ctx_.display.AppendMessage(std::string(text::kBlockErrorF7));
      break;
    case protocol::kBlockCheckError:
      ctx_.display.AppendMessage(std::string(text::kBlockErrorF8));
      break;
    default:
      break;
  }
  const auto box = BlockErrorBox(result);
  if (showMessage && box) ctx_.op.ShowMessage(std::string(*box));
}

}  // namespace vel
