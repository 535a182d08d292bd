// The framed block transfer: send-and-wait, one block, the programming wait, and procedure T1.
#include <functional>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"
#include "engine/VelUpdateDoc.h"

namespace vel {

bool CVelUpdateDoc::SendFrameAwaitAck(const std::uint8_t* frame, int length,
                                      const std::string& prefix, int position) {
  return SendFrameUntilAnswered(frame, length, prefix, position, false);
}

bool CVelUpdateDoc::SendFrameAwaitAckLink(const std::uint8_t* frame, int length,
                                          const std::string& prefix, int position) {
  return SendFrameUntilAnswered(frame, length, prefix, position, true);
}

// Sends the frame until the device acknowledges it (0xFA, or 0xF4 which also reports a
// programmed block), the protocol byte ends the wait, or the transfer is cancelled. The serial
// variant asks every 20 tries and reports a short write in a message box; the variant for
// either link drains stale TCP answers first, asks every 10 tries and logs a short write.
bool CVelUpdateDoc::SendFrameUntilAnswered(const std::uint8_t* frame, int length,
                                           const std::string& prefix, int position,
                                           bool eitherLink) {
  const bool tcp = link_.Kind() == LinkKind::kTcp;
  if (eitherLink && tcp) {
    // Answers that came late for an earlier frame must not count for this one.
    std::uint8_t stale = 0;
    while (link_.Tcp().ReadableNow() && ReadByte(&stale) == 1) {
    }
  }
  const int askEvery = eitherLink ? kNotRespondingEveryTriesLink : kNotRespondingEveryTries;
  std::uint8_t reply = 0;
  int tries = 0;
  bool lastRead = false;
  while (reply != protocolByte_ && reply != protocol::kAck && reply != protocol::kBlockProgrammed &&
         !Cancelled()) {
    ++tries;
    if (tries % askEvery == 0 &&
        operator_.AskYesNo(Question::kNotResponding, std::string(text::kNotResponding))) {
      console_.EndProgress();
      console_.State().cancel = true;
      if (eitherLink) {
        SetStatusCode(ids::kUpdateFailed);
        break;
      }
    }
    const int written = link_.LinkWrite(frame, length);
    if (written < length) {
      const std::string warning =
          Format(LoadString(tcp ? ids::kTcpNotAccepting : ids::kSerialNotAccepting).c_str(),
                 written, link_.LastWriteError());
      if (eitherLink) {
        console_.AppendMessage(warning);
      } else {
        operator_.ShowMessage(warning + "\"");
      }
    }
    console_.SetProgress(position, prefix + std::to_string(tries));
    std::uint8_t byte = 0;
    lastRead = ReadByte(&byte) == 1;
    if (lastRead) reply = byte;
  }
  lastReply_ = reply;
  return lastRead && (reply == protocol::kAck || reply == protocol::kBlockProgrammed) &&
         !Cancelled();
}

CVelUpdateDoc::BlockOutcome CVelUpdateDoc::SendBlock(const BlockFrames& block) {
  const auto send = [&](const std::uint8_t* frame, int length, const std::string& prefix,
                        int position) {
    return block.viaLink ? SendFrameAwaitAckLink(frame, length, prefix, position)
                         : SendFrameAwaitAck(frame, length, prefix, position);
  };
  if (!send(block.blockId.data(), static_cast<int>(block.blockId.size()), block.idPrefix,
            block.idPosition)) {
    return BlockOutcome::kFrameFailed;
  }
  std::uint8_t packet[protocol::kRecordFrameSize];
  for (int page = 0; page < block.pages; ++page) {
    for (int record = 0; record < block.recordsPerPage; ++record) {
      block.map->MakeRecordPacket(static_cast<std::uint8_t>(block.segment), block.block, page,
                                  record, packet, block.options);
      if (packet[3] == 0xFF) {
        operator_.ShowMessage(block.missingSegmentText);
        return BlockOutcome::kMissingSegment;
      }
      if (!send(packet, protocol::kRecordFrameSize, block.recordPrefix(page, record),
                block.recordPosition(page, record))) {
        return BlockOutcome::kFrameFailed;
      }
    }
  }
  if (!send(protocol::kEndOfBlockFrame.data(), static_cast<int>(protocol::kEndOfBlockFrame.size()),
            block.endPrefix, block.endPosition)) {
    return BlockOutcome::kFrameFailed;
  }
  // 0xF4 as the answer to the end of block already reports the block programmed (its 0xFA was
  // lost on the way); waiting for a second result would wait for nothing.
  return lastReply_ == protocol::kBlockProgrammed ? BlockOutcome::kProgrammed : BlockOutcome::kSent;
}

int CVelUpdateDoc::ProgrammingWait(const char* format, int positionFactor) {
  int last = kNoResult;
  for (int t = kProgrammingWaitReads; t >= 1 && !Cancelled(); --t) {
    console_.SetProgress(t * positionFactor, Format(format, t));
    std::uint8_t byte = 0;
    if (ReadByte(&byte) != 1) continue;
    last = byte;
    if (protocol::IsBlockResult(byte)) break;
  }
  return last;
}

void CVelUpdateDoc::LogBlockResult(int result) {
  console_.AppendMessage(std::string(text::kBlockError));
  switch (result) {
    case protocol::kEraseError:
      console_.AppendMessage(std::string(text::kBlockErrorF6));
      break;
    case protocol::kProgrammingError:
      console_.AppendMessage(std::string(text::kBlockErrorF7));
      break;
    case protocol::kBlockCheckError:
      console_.AppendMessage(std::string(text::kBlockErrorF8));
      break;
    default:
      break;
  }
}

void CVelUpdateDoc::CloseTransfer() {
  link_.Purge();
  console_.EndProgress();
  console_.EnableWorkingControls(true);
  Signal();
}

void CVelUpdateDoc::Finish(int statusCode) {
  Write(protocol::kRunFrame.data(), static_cast<int>(protocol::kRunFrame.size()));
  console_.SetProgress(0, LoadString(ids::kTransmissionCompleted));
  SetStatusCode(statusCode);
  console_.MarkUpdateDone();
}

void CVelUpdateDoc::ProcedureT1() {
  const VelMemMap& map = *file_.MemMap(0);
  bool complete = false;
  for (int b = 0; b < 4;) {
    BlockFrames block;
    block.map = &map;
    block.segment = 0xFF;
    block.block = b;
    block.options.pageOnlyAddress = true;
    block.blockId = protocol::PageRangeBlockId(b * 64, b * 64 + 63);
    block.idPrefix = Format("Sending Hex File : Block %d ID,  Try:", b + 1);
    block.idPosition = b * 1024;
    block.recordPrefix = [b](int page, int record) {
      return Format("Sending Hex File : Block %d/24,  Page %d/64,  Record %d/16,  Try:", b + 1,
                    page + 1, record + 1);
    };
    block.recordPosition = [b](int page, int record) { return page * 16 + b * 1024 + record; };
    block.endPrefix = Format("Sending End of Block: Block %d, Try:", b + 1);
    block.endPosition = (b + 1) * 1024;
    block.missingSegmentText = LoadString(ids::kNonExistentSegment);
    const BlockOutcome outcome = SendBlock(block);
    if (outcome != BlockOutcome::kSent && outcome != BlockOutcome::kProgrammed) break;
    const int result =
        outcome == BlockOutcome::kProgrammed
            ? protocol::kBlockProgrammed
            : ProgrammingWait("Waiting for Vel 2 to program block.  Timeout: %d s", 68);
    if (Cancelled()) break;
    if (result == kNoResult) {
      // Silence for the whole wait is not a programmed block.
      console_.AppendMessage(std::string(text::kNoProgrammingResult));
      break;
    }
    if (result != protocol::kBlockProgrammed) {
      LogBlockResult(result);
      continue;  // the same block again, from its block-ID frame
    }
    complete = ++b == 4;
  }
  if (complete) {
    Finish(ids::kUpdateSuccessful);
  } else {
    operator_.ShowMessage(LoadString(ids::kTransmissionTerminated));
  }
  CloseTransfer();
}

}  // namespace vel
