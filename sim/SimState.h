#pragma once

#include <compare>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PhaseReceiver.h"
#include "SimConfig.h"

namespace sim {

// Where a device keeps one programmed image: its unit (numbered as its information block lists
// them) and the stage of the family's update that sent it.
struct MemoryArea {
  int unit = 0;
  int stage = 0;
  auto operator<=>(const MemoryArea&) const = default;
};

// The device's programmed memory: every block a block result of success programmed, kept across
// connections and restarts.
using DeviceMemory = std::map<MemoryArea, std::map<int, Segment>>;

// What a device keeps across restarts: its identification and its programmed memory.
struct SimState {
  std::vector<SimUnit> units;
  std::optional<std::string> serialNumber;
  DeviceMemory memory;
};

// The state file's text: "zandor-sim state 1", then "serial TEXT" or "serial-none", one
// "unit TYPE,HW,FW,KIND[,AUX...]" line a unit, and one "segment UNIT STAGE SEGMENT HEX" line a
// programmed segment (65536 bytes as hexadecimal pairs).
std::string FormatSimState(const SimState& state);
// Nothing, with *error set, when `text` is not a state file of this format.
std::optional<SimState> ParseSimState(const std::string& text, std::string* error);

}  // namespace sim
