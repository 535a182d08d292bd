#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SimConfig.h"

namespace sim {

struct SimOptions {
  SimConfig config;
  std::string tcp;  // HOST:PORT
  bool pty = false;
  std::string recordFile;
  std::string replayFile;  // a session record whose device side is played back
};

// Parses the simulator's command line; nullopt with *error set (or *help) when it should not run.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& words, std::string* error,
                                          bool* help);

extern const char* const kSimUsage;

// A unit as --unit gives it: TYPE,HW,FW[,KIND[,AUX...]]; nothing, with *error set, when it is not.
std::optional<SimUnit> ParseUnitText(const std::string& text, std::string* error);
// The same text of a unit (its kind always given).
std::string UnitText(const SimUnit& unit);

// Sets up a device of one family: its units, replies and behaviour between phases. Names:
// matrix, multi, kesta128, dravik, dravik-ypc, dravik-ypk, dravik-ypa, station, hub, tzt, xxx,
// loader. False for an unknown name.
bool ApplyFamily(const std::string& name, SimConfig* config);

}  // namespace sim
