#pragma once

#include <cstdint>
#include <string_view>

#include "common/HexDigit.h"

namespace vel {

// Value of a text of hexadecimal digits as the record reader computes it: every character
// counts, upper-case digits map to 10..15 and nothing is rejected, so a stray character gives a
// wrong value that the checksum test then catches.
constexpr std::uint32_t HexToValue(std::string_view text) {
  std::uint32_t value = 0;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    value = value * 16 + (c >= 'A' ? c - 55u : c - 48u);
  }
  return value;
}

constexpr char ToUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Byte at pair position `index` of a data text, upper-cased first so lower-case files read the
// same as upper-case ones.
constexpr std::uint8_t DataPairValue(std::string_view data, std::size_t index) {
  const char pair[2] = {ToUpperAscii(data[2 * index]), ToUpperAscii(data[2 * index + 1])};
  return static_cast<std::uint8_t>(HexToValue(std::string_view(pair, 2)));
}

}  // namespace vel
