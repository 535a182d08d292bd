#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vel {

// "<Unknown>" for an unset version; "1.23" for "123" (second character a digit or below);
// any other version unchanged.
std::string FormatFirmwareVersion(std::string_view version);

// An image's hardware version list as the version check shows it: at most five entries, or
// three after "<N/A>" when the list accepts every version; "..." when the walk reached its limit.
std::string FormatHardwareList(const std::vector<std::string>& list);

}  // namespace vel
