#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct SimConfig;

// How a block lies in its segment and how its record frames are addressed.
enum class Layout {
  kPageRelative16K,  // 64 pages of 16 records, address = page within the block, record * 16
  kFull16K,          // 64 pages of 16 records, address = offset in the segment
  kPageRelative1K,   // 4 pages of 16 records, address = page within the block, record * 16
  kFull1K,           // 4 pages of 16 records, address = offset in the segment
  k128,              // 8 records, address = offset in the segment
};

// Whether blocks are announced by a page range (which names the block) or by their segment
// (the block then follows from its first record's address).
enum class Announce { kPageRange, kSegment };

enum class ChecksumWidth { kNone, k8Bit, k16Bit };

// What the device takes in one phase of a transfer.
struct PhaseRule {
  Layout layout = Layout::kFull16K;
  Announce announce = Announce::kSegment;
  // Segment-announced: the segments in the order they come. Page ranges: the one segment the
  // phase's data goes to.
  std::vector<int> segments{0xFF};
  bool firstSegmentOptional = false;  // an image without the first segment leaves it out
  int blocksPerSegment = 4;
  bool endsAtImageTop = false;     // the host ends after the block holding the image's top
  bool f7RestartsSegment = false;  // after 0xF7 the segment may come again from its first block
  bool fdSkipsSegment = false;     // after 0xFD the rest of the segment is given up
  ChecksumWidth checksum = ChecksumWidth::kNone;  // a checksum frame closes the phase
};

// One stage of an update: what precedes the phase, the phase, and what follows its run frame.
struct Stage {
  std::uint8_t echo = 0;      // a handshake byte the device echoes before the phase (0: none)
  bool loaderEscape = false;  // 0x1B answered with the loader's 27-byte reply until 0xFA
  PhaseRule phase;
  int bytesAfterRun = 0;     // sent after the run frame (0xFA each)
  bool ackAfterRun = false;  // 0xFA after the run frame: the region was taken
};

// Everything one update of the device can be, stage by stage.
struct Plan {
  std::vector<Stage> stages;
  bool closingFrame = false;  // 00 00 00 06 FA after the last run frame (user stations)
};

// The updates a device of the configured family accepts. A plan whose first stage has a
// handshake byte is chosen by that byte; a plan without one takes frames at once.
std::vector<Plan> PlansFor(const SimConfig& config);

// Sizes of a layout.
struct LayoutSize {
  int pages;
  int recordsPerPage;
  int blockBytes;
  bool pageRelative;
};
LayoutSize SizeOf(Layout layout);

}  // namespace sim
