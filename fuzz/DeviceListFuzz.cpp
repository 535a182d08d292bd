// Any bytes as a stored device list: decoding, and encoding what it decoded.
#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/DeviceList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string stored(reinterpret_cast<const char*>(data), size);
  const auto rows = vel::DeviceList::Decode(stored);
  const auto again = vel::DeviceList::Decode(vel::DeviceList::Encode(rows));
  // Decoded fields hold no "!", so what was read writes back to the same rows.
  if (again.size() != rows.size()) __builtin_trap();
  return 0;
}
