#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vel {

// The one home of the key text: a 16-byte key is written as 32 hexadecimal digits, or as the
// device list writes it, 16 pairs of digits separated by "-" (47 characters).
constexpr std::size_t kKeyBytes = 16;
constexpr std::size_t kKeyDigits = 2 * kKeyBytes;
constexpr std::size_t kDashedKeyLength = kKeyDigits + kKeyBytes - 1;

// Sixteen dash-separated pairs of hexadecimal digits.
bool IsDashedKey(std::string_view text);
// The 32 digits of a key given as 32 digits or dashed; nothing for anything else.
std::optional<std::string> KeyDigits(std::string_view text);
// The dashed form of a key given as 32 digits or dashed, as the device list keeps it; nothing
// for anything else.
std::optional<std::string> DashedKey(std::string_view text);
// The 16 bytes of the first 32 characters, which must be hexadecimal digits (either case); the
// first pair is the first byte. Characters after the 32nd are ignored.
bool ParseKeyBytes(std::string_view digits, std::uint8_t* key);

}  // namespace vel
