#pragma once

#include <vector>

#include "engine/EngineContext.h"
#include "engine/Families.h"
#include "engine/TransferPhase.h"

namespace vel {

// Builds the phases a procedure sends, from the loaded file and what is known of the device.
class PhaseBuilder {
 public:
  explicit PhaseBuilder(EngineContext& ctx) : ctx_(ctx) {}

  // The phases a procedure sends, in order (maps built as needed).
  std::vector<TransferPhase> PhasesOf(Procedure procedure);
  // Refuses (message, failure) when an image the phases send holds data outside what they send.
  bool RefuseDataLeftBehind(const std::vector<TransferPhase>& phases);
  // The image of a multi-unit procedure: segments from 0 up to the block holding the map's top.
  TransferPhase SegmentPhase(int slot, int positionBase, const char* recordFormat) const;

 private:
  TransferPhase Segment64KPhase(const char* recordFormat) const;
  TransferPhase Kesta128Phase(int slot, int positionBase, int waitFactor) const;
  TransferPhase ShortBlockPhase(int blocks) const;
  TransferPhase SectorPhase() const;
  TransferPhase RegionPhase(int region, int regions) const;
  TransferPhase SecondImagePhase(int positionBase, int shownBefore) const;

  EngineContext& ctx_;
};

}  // namespace vel
