#pragma once

#include <string>
#include <string_view>

namespace vel {

// Shortest run of hexadecimal digits (dashes between them left out) taken for a key, or a part of
// one: a key is 32 digits; addresses, ports, COM names and device paths hold far fewer.
constexpr std::size_t kKeyLikeDigits = 16;

// The text with every word (letters, digits and dashes) that holds a key-like run replaced by
// "<key>", wherever it stands: keys never reach output or logs, not even misplaced or mistyped.
std::string MaskKeys(std::string_view text);

}  // namespace vel
