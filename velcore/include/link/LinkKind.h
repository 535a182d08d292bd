#pragma once

#include <cstdint>

namespace vel {

// Which link reaches a device: a serial port or a TCP connection.
enum class LinkKind : std::uint8_t { kTcp = 0, kSerial = 1 };

}  // namespace vel
