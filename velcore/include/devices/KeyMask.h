#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "link/KeyText.h"

namespace vel {

class DeviceList;

// Replaces every key in a text meant for output or logs by "<key>":
//  - the known keys (a device list's, a target's) in any spelling, wherever they stand, even
//    inside a longer word;
//  - key-shaped text, not touching another letter or digit: exactly 32 hexadecimal digits, or 16
//    pairs of them each joined to the next by '-', ':' or ' '.
// A spelling of a key is either case, 32 digits, or 16 pairs joined by '-', ':' or ' '. Nothing
// else is masked: a name is not a key because it holds hexadecimal digits, nor is a longer run of
// them (a 40- or 64-digit digest). Stretches of text that overlapping keys cover become one
// "<key>". The keys are kept only to compare with, never shown.
class KeyMask {
 public:
  // Texts that spell no key (the no-encryption marker, an empty cell) are left out.
  explicit KeyMask(const std::vector<std::string>& knownKeys = {});
  std::string operator()(std::string_view text) const;

 private:
  using KeyDigitArray = std::array<char, kKeyDigits>;
  std::vector<KeyDigitArray> known_;  // lower-case digits, sorted, each key once
};

// The mask of a device list: its rows' keys, and the shape rule.
KeyMask ListKeyMask(const DeviceList& list);

// The text with key-shaped text masked (no known keys): KeyMask()(text).
std::string MaskKeys(std::string_view text);

}  // namespace vel
