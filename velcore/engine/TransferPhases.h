#pragma once

#include <vector>

#include "engine/EngineContext.h"
#include "families/Families.h"
#include "engine/TransferPhase.h"

namespace vel {

// Builds the phases a procedure sends, from the loaded file and what is known of the device: the
// layouts the procedures share, which each procedure's file puts together.
class PhaseBuilder {
 public:
  explicit PhaseBuilder(EngineContext& ctx) : ctx_(ctx) {}

  // The phases a procedure sends, in order (maps built as needed).
  std::vector<TransferPhase> PhasesOf(Procedure procedure);
  // Refuses (message, failure) when an image the phases send holds data outside what they send.
  bool RefuseDataLeftBehind(const std::vector<TransferPhase>& phases);
  EngineContext& Context() { return ctx_; }

  // The image of a multi-unit procedure: segments from 0 up to the block holding the map's top.
  TransferPhase SegmentPhase(int slot, int positionBase, const char* recordFormat) const;
  // The 64 KiB image of segment 0xFF in four page-range blocks, shown as blocks 1 to 4.
  TransferPhase Segment64KPhase(const char* recordFormat) const;
  // The 128 KiB layout: segment 254 (when the image has it) and 255, shown as blocks 1 to 8.
  TransferPhase Kesta128Phase(int slot, int positionBase, int waitFactor) const;
  // The 128-byte layout of segment 0xFF: `blocks` blocks of eight records.
  TransferPhase ShortBlockPhase(int blocks) const;
  // The Dravik sectors: segments 0 to 5 of slot 1 in 1 KiB blocks.
  TransferPhase SectorPhase() const;
  // One region of a user station: the slot's lowest segment in 1 KiB page-range blocks.
  TransferPhase RegionPhase(int region, int regions) const;
  // Slot 1's 128 KiB after a first phase, shown after `shownBefore` blocks of 12.
  TransferPhase SecondImagePhase(int positionBase, int shownBefore) const;

 private:
  EngineContext& ctx_;
};

}  // namespace vel
