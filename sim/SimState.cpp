#include "SimState.h"

#include <sstream>

#include "SimOptions.h"

namespace sim {

namespace {

constexpr const char* kStateMagic = "zandor-sim state 1";
constexpr int kMaxUnits = 16;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ParseSegmentLine(const std::string& line, DeviceMemory* memory) {
  std::istringstream words(line.substr(8));
  int unit = -1, stage = -1, segment = -1;
  std::string hex;
  if (!(words >> unit >> stage >> segment >> hex) || unit < 0 || unit >= kMaxUnits || stage < 0 ||
      stage > 16 || segment < 0 || segment > 0xFF || hex.size() != 2 * sizeof(Segment)) {
    return false;
  }
  Segment bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  (*memory)[MemoryArea{unit, stage}][segment] = bytes;
  return true;
}

}  // namespace

std::string FormatSimState(const SimState& state) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out = std::string(kStateMagic) + "\n";
  out += state.serialNumber ? "serial " + *state.serialNumber + "\n" : "serial-none\n";
  for (const SimUnit& unit : state.units) out += "unit " + UnitText(unit) + "\n";
  for (const auto& [area, segments] : state.memory) {
    for (const auto& [segment, bytes] : segments) {
      out += "segment " + std::to_string(area.unit) + " " + std::to_string(area.stage) + " " +
             std::to_string(segment) + " ";
      for (const std::uint8_t b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
      out += "\n";
    }
  }
  return out;
}

std::optional<SimState> ParseSimState(const std::string& text, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kStateMagic) {
    *error = std::string("not a state file of this simulator (its first line is not \"") +
             kStateMagic + "\")";
    return std::nullopt;
  }
  SimState state;
  int number = 1;
  while (std::getline(lines, line)) {
    ++number;
    bool taken = true;
    if (line.empty()) {
      continue;
    } else if (line == "serial-none") {
      state.serialNumber.reset();
    } else if (line.rfind("serial ", 0) == 0) {
      state.serialNumber = line.substr(7);
    } else if (line.rfind("unit ", 0) == 0) {
      std::string problem;
      const auto unit = ParseUnitText(line.substr(5), &problem);
      taken = unit.has_value() && state.units.size() < kMaxUnits;
      if (taken) state.units.push_back(*unit);
    } else if (line.rfind("segment ", 0) == 0) {
      taken = ParseSegmentLine(line, &state.memory);
    } else {
      taken = false;
    }
    if (!taken) {
      *error = "line " + std::to_string(number) + " of the state file is not in its format";
      return std::nullopt;
    }
  }
  if (state.units.empty()) {
    *error = "the state file names no unit";
    return std::nullopt;
  }
  return state;
}

}  // namespace sim
