#include "link/SerialSettings.h"

#include <algorithm>
#include <array>

namespace vel {

namespace {

struct PortDefaults {
  const char* address;
  int irq;
};
constexpr std::array<PortDefaults, 4> kPortDefaults{
    {{"3F8", 4}, {"2F8", 3}, {"220", 4}, {"320", 3}}};

}  // namespace

int SerialSettings::BaudRate() const { return 300 << std::clamp(baudIndex, 0, 7); }

std::string PortAddressFor(int position, const SerialSettings& settings) {
  if (position >= 0 && position < static_cast<int>(kPortDefaults.size())) {
    return kPortDefaults[static_cast<std::size_t>(position)].address;
  }
  return settings.portAddress;
}

int PortIrqFor(int position, const SerialSettings& settings) {
  if (position >= 0 && position < static_cast<int>(kPortDefaults.size())) {
    return kPortDefaults[static_cast<std::size_t>(position)].irq;
  }
  return settings.portIrq;
}

void PresetPortOverride(int position, SerialSettings& settings) {
  settings.portIrq = PortIrqFor(position, settings);
  settings.portAddress = PortAddressFor(position, settings);
}

}  // namespace vel
