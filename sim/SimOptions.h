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
};

// Parses the simulator's command line; nullopt with *error set (or *help) when it should not run.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& words, std::string* error,
                                          bool* help);

extern const char* const kSimUsage;

// Sets up a device of one family: its units, replies and behaviour between phases. Names:
// matrix, multi, kesta128, dravik, dravik-ypc, dravik-ypk, dravik-ypa, station, hub, tzt, xxx,
// loader. False for an unknown name.
bool ApplyFamily(const std::string& name, SimConfig* config);

}  // namespace sim
