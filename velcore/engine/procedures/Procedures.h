#pragma once

// Every transfer procedure, one file each; the procedure table (Procedures.cpp) lists them by
// name.
#include "common/Format.h"
#include "common/Strings.h"
#include "engine/ProcedureSteps.h"
#include "engine/Protocol.h"
#include "engine/TransferPhases.h"
#include "engine/TransferProcedure.h"

namespace vel::procedures {

extern const TransferProcedure kPageRangeImage64k;
extern const TransferProcedure kImage128k;
extern const TransferProcedure kDravikImage128k;
extern const TransferProcedure kDravikSectorsThenImage;
extern const TransferProcedure kUserStationRegions;
extern const TransferProcedure kShortBlocks;
extern const TransferProcedure kShortBlocksThenImage128k;
extern const TransferProcedure kHubShortBlocks;
extern const TransferProcedure kPageRangeThenImage128k;
extern const TransferProcedure kSegmentsThenImage128k;
extern const TransferProcedure kUnitImages;
extern const TransferProcedure kLoaderImages;

}  // namespace vel::procedures
