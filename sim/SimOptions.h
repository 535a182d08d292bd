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

}  // namespace sim
