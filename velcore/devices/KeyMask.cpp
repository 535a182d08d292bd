#include "devices/KeyMask.h"

#include "image/HexText.h"

namespace vel {

namespace {

bool IsWordCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
}

// Whether a word holds kKeyLikeDigits hexadecimal digits in a row, dashes between them left out.
bool HoldsKeyLikeRun(std::string_view word) {
  std::size_t digits = 0;
  for (const char c : word) {
    if (HexDigitValue(c) >= 0) {
      if (++digits >= kKeyLikeDigits) return true;
    } else if (c != '-') {
      digits = 0;
    }
  }
  return false;
}

}  // namespace

std::string MaskKeys(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (!IsWordCharacter(text[i])) {
      out += text[i++];
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && IsWordCharacter(text[end])) ++end;
    const std::string_view word = text.substr(i, end - i);
    out += HoldsKeyLikeRun(word) ? std::string_view("<key>") : word;
    i = end;
  }
  return out;
}

}  // namespace vel
