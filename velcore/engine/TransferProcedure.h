#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "families/Families.h"
#include "engine/TransferPhase.h"

namespace vel {

class PhaseBuilder;
class ProcedureSteps;

// One transfer procedure: its facts, the phases it sends and how it runs them. Each lives in a
// file of its own under engine/procedures/ and has its row in the procedure table
// (procedures/Procedures.cpp); the family table names it.
struct TransferProcedure {
  Procedure name;
  int progressRange;              // 0: from the image sent (its top segment and address)
  bool serialOnly;                // refused over TCP
  bool needs128kImage;            // refused when slot 0 has no segment 254
  std::string_view progressText;  // the status line as the transfer begins
  // The phases it sends, in order, from the loaded file and what is known of the device.
  std::vector<TransferPhase> (*phases)(PhaseBuilder& build);
  // Runs the checked phases to the procedure's end; leaves the status code.
  void (*run)(ProcedureSteps& steps, const std::vector<TransferPhase>& phases);
  // The frames it sends when each block goes once; null: every block of every phase.
  long long (*plannedFrames)(ProcedureSteps& steps) = nullptr;
  // Sends unit by unit, each unit's outcome its own; else the device is updated as a whole.
  bool unitByUnit = false;
};

// The procedure of a name.
const TransferProcedure& ProcedureOf(Procedure name);
// Every procedure, in the order of their names.
std::span<const TransferProcedure* const> AllProcedures();

}  // namespace vel
