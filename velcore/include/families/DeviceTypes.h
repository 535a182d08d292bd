#pragma once

#include <string>
#include <string_view>

namespace vel {

// The display name of a device type code ("<Unknown>" for a code outside the table).
std::string DisplayName(std::string_view code);

struct DeviceCaption {
  std::string caption;           // caption of the update button
  bool multiUnitFamily = false;  // the code belongs to the multi-unit family
};

// The update button's caption for a file's device type code.
DeviceCaption DeviceTypeCaption(std::string_view code);

}  // namespace vel
