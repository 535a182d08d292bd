#pragma once

// What a simulated device holds for each of its units after an update, by the simulator's own
// record: the truth a unit's outcome is checked against.
#include <algorithm>
#include <string>
#include <vector>

#include "SimDevice.h"
#include "engine/DeviceIdentity.h"
#include "image/FirmwareFile.h"
#include "image/HexFileLoader.h"

namespace vel::testing {

// Whether the device's memory for `unit` (its first stage) is exactly `image`: every segment of
// the image, no other.
inline bool MemoryHoldsImage(const sim::DeviceMemory& memory, int unit, const VelMemMap& image) {
  const auto area = memory.find(sim::MemoryArea{unit, 0});
  if (area == memory.end()) return false;
  for (int s = 0; s < 256; ++s) {
    const VelSegment* segment = image.Segment(static_cast<std::uint8_t>(s));
    const auto held = area->second.find(s);
    if ((segment == nullptr) != (held == area->second.end())) return false;
    if (segment != nullptr &&
        !std::equal(segment->bytes.begin(), segment->bytes.end(), held->second.begin())) {
      return false;
    }
  }
  return true;
}

// Programmed: what the device took for the unit ended with its run frame and the unit's memory
// is the image. Not sent: the device took nothing for the unit. Failed part-way: anything else.
inline UnitOutcome HeldByUnit(const sim::SimDevice& device, int unit, const VelMemMap& image) {
  const auto programmed = device.Programmed();
  const auto memory = device.Memory();
  const bool taken = std::any_of(programmed.begin(), programmed.end(),
                                 [&](const sim::ProgrammedUnit& p) { return p.unit == unit; });
  const bool inMemory = std::any_of(memory.begin(), memory.end(),
                                    [&](const auto& area) { return area.first.unit == unit; });
  if (!taken && !inMemory) return UnitOutcome::kNotSent;
  const bool ran = std::any_of(programmed.begin(), programmed.end(),
                               [&](const auto& p) { return p.unit == unit && p.runFrameSeen; });
  return ran && MemoryHoldsImage(memory, unit, image) ? UnitOutcome::kProgrammed
                                                      : UnitOutcome::kFailedPartWay;
}

// The memory maps of a firmware file's images, in slot order.
class FileImages {
 public:
  explicit FileImages(const std::string& path) {
    loaded_ = HexFileLoader(file_).LoadPath(path).ok();
    for (int k = 0; loaded_ && k < file_.ImageCount(); ++k) file_.GetMemMap(k);
  }
  bool Loaded() const { return loaded_; }
  const VelMemMap& Image(int slot) const { return *file_.MemMap(slot); }

 private:
  FirmwareFile file_;
  bool loaded_ = false;
};

}  // namespace vel::testing
