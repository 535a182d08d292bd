// The procedure table: each procedure by its name.
#include "engine/procedures/Procedures.h"

#include <array>

namespace vel {

namespace {

// In the order of the names (Procedure); a test holds each row to its name.
constexpr auto kProcedures = std::to_array<const TransferProcedure*>({
    &procedures::kPageRangeImage64k,
    &procedures::kImage128k,
    &procedures::kDravikImage128k,
    &procedures::kDravikSectorsThenImage,
    &procedures::kUserStationRegions,
    &procedures::kShortBlocks,
    &procedures::kShortBlocksThenImage128k,
    &procedures::kHubShortBlocks,
    &procedures::kPageRangeThenImage128k,
    &procedures::kSegmentsThenImage128k,
    &procedures::kUnitImages,
    &procedures::kLoaderImages,
});

}  // namespace

std::span<const TransferProcedure* const> AllProcedures() { return kProcedures; }

const TransferProcedure& ProcedureOf(Procedure name) {
  return *kProcedures[static_cast<std::size_t>(name)];
}

}  // namespace vel
