#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/VelMemMap.h"

namespace vel {

// How a block lies in its segment and how its record frames are addressed.
enum class Geometry {
  kPageRelative16K,  // 64 pages of 16 records; address high byte = page within the block
  kFull16K,          // 64 pages of 16 records; address high byte = block * 64 + page
  kPageRelative1K,   // 4 pages of 16 records; address high byte = page within the block
  kFull1K,           // 4 pages of 16 records; address high byte = block * 4 + page
  k128,              // 8 records; address = block * 128 + record * 16
};

enum class BlockIdStyle { kPageRange16K, kPageRange1K, kSegment };

// What a block result other than "programmed" does.
enum class OnBlockError {
  kRepeat,  // log (and show) it, send the block again
  kStop,    // log and show it, the transfer fails
};
enum class OnProgrammingError {  // 0xF7 specifically
  kLikeOthers,
  kRestartSegment,  // the segment again from its first block
  kEndTransfer,
};
enum class OnUpdateAgain {  // 0xFD
  kNotExpected,
  kEndIncomplete,  // "Please Update again!", the transfer ends incomplete
  kSkipSegment,    // "Please Update again!", the rest of the segment is skipped
};

// One pass of block transfers over one image: which segments and blocks, their frames, texts,
// progress positions, waits and how results are handled.
struct TransferPhase {
  int slot = 0;
  std::vector<int> segments;
  int blocksPerSegment = 4;
  Geometry geometry = Geometry::kFull16K;
  BlockIdStyle blockIdStyle = BlockIdStyle::kSegment;
  bool blankRecordsAsZero = false;  // a record of sixteen 0xFF goes as sixteen 0x00
  bool idAndEndViaLink = false;     // block-ID and end-of-block through the either-link sender
  bool recordsViaLink = false;
  bool pauseBeforeBlockId = false;  // 1 ms before each block-ID frame
  std::function<std::string(int segment, int block)> idText;
  std::function<std::string(int segment, int block, int page, int record)> recordText;
  std::function<std::string(int segment, int block)> endText;
  std::function<int(int segment, int block)> idPosition;
  std::function<int(int segment, int block, int page, int record)> recordPosition;
  std::function<int(int segment, int block)> endPosition;
  std::function<std::string(int segment, int block, int secondsLeft)> waitText;
  int waitPositionFactor = 68;
  bool askWhileWaiting = false;  // the not-responding question at 40 and 20 reads left
  bool timeoutCancels = false;   // no result at all: a message and cancel (else: failure)
  bool showBlockErrors = true;   // a message box besides the log lines
  OnBlockError onError = OnBlockError::kRepeat;
  OnProgrammingError onF7 = OnProgrammingError::kLikeOthers;
  OnUpdateAgain onFD = OnUpdateAgain::kNotExpected;
  // The block whose success completes the phase (the one holding the image's top address).
  std::optional<std::pair<int, int>> lastBlock;
  // The phase's extent follows the image's top address, which leaves out records from 0xFC00 of
  // the top segment by design.
  bool sendsUpToTopAddress = false;
  std::string missingSegmentText;
};

enum class PhaseOutcome { kComplete, kFailed, kCancelled, kStopped, kUpdateAgain };

// Bytes [begin, end) of a segment that a phase sends.
struct SentRange {
  int segment = 0;
  std::size_t begin = 0;
  std::size_t end = 0;
};
std::vector<SentRange> SentRanges(const TransferPhase& phase);

// The first 16-byte record of the map that holds file data outside the ranges, as (segment,
// offset); records from 0xFC00 of the top segment count as sent when `uptoTopAddress`.
std::optional<std::pair<int, std::size_t>> FirstDataOutside(const VelMemMap& map,
                                                            const std::vector<SentRange>& sent,
                                                            bool uptoTopAddress);

}  // namespace vel
