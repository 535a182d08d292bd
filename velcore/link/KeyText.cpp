#include "link/KeyText.h"

#include <algorithm>

#include "image/HexText.h"

namespace vel {

bool IsDashedKey(std::string_view text) {
  if (text.size() != kDashedKeyLength) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i % 3 == 2 ? text[i] != '-' : HexDigitValue(text[i]) < 0) return false;
  }
  return true;
}

std::optional<std::string> KeyDigits(std::string_view text) {
  std::string digits;
  if (IsDashedKey(text)) {
    std::copy_if(text.begin(), text.end(), std::back_inserter(digits),
                 [](char c) { return c != '-'; });
    return digits;
  }
  const bool allDigits =
      std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
  if (text.size() != kKeyDigits || !allDigits) return std::nullopt;
  return std::string(text);
}

std::optional<std::string> DashedKey(std::string_view text) {
  const auto digits = KeyDigits(text);
  if (!digits) return std::nullopt;
  std::string dashed;
  for (std::size_t i = 0; i < digits->size(); i += 2) {
    if (i > 0) dashed += '-';
    dashed += digits->substr(i, 2);
  }
  return dashed;
}

bool ParseKeyBytes(std::string_view digits, std::uint8_t* key) {
  if (digits.size() < kKeyDigits) return false;
  for (std::size_t i = 0; i < kKeyDigits; ++i) {
    const int digit = HexDigitValue(digits[i]);
    if (digit < 0) return false;
    key[i / 2] = static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : key[i / 2] | digit);
  }
  return true;
}

}  // namespace vel
