#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vel {

// A version or code whose first character is '?' was not given by the file.
inline bool IsUnset(std::string_view value) { return value.empty() || value.front() == '?'; }

// The metadata of one image slot.
struct FirmwareInfo {
  std::string deviceType = "?";               // up to 3 characters
  std::string firmwareVersion = "?";          // up to 3 characters
  std::vector<std::string> hardwareVersions;  // each up to 20 characters
};

constexpr int kAuxiliaryVersionCount = 20;
constexpr int kMaxDisplayLines = kAuxiliaryVersionCount;

// Metadata shared by all images of a file.
struct SharedMetadata {
  // Entry i is auxiliary version i + 1.
  std::array<std::string, kAuxiliaryVersionCount> auxiliaryVersions{};
  // Entry i is display line i + 1, already ending in ": ".
  std::vector<std::string> displayLines;

  SharedMetadata() { auxiliaryVersions.fill("?"); }
};

}  // namespace vel
