#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vel {

// The code point of the well-formed UTF-8 sequence at text[i] and its length; length 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a surrogate, a code point
// above U+10FFFF, a cut sequence).
struct Utf8Char {
  char32_t codePoint = 0;
  std::size_t length = 0;
};

inline Utf8Char DecodeUtf8(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t lowest = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, lowest = 0x10000;
  } else {
    return {};
  }
  if (i + length > text.size()) return {};
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return {};
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
  return {code, length};
}

// Calls onChar(codePoint, bytes) for every well-formed character of `text` and onStray(byte) for
// every byte that is not part of one.
template <typename OnChar, typename OnStray>
void ForEachUtf8(std::string_view text, OnChar onChar, OnStray onStray) {
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8(text, i);
    if (c.length == 0) {
      onStray(static_cast<unsigned char>(text[i]));
      ++i;
    } else {
      onChar(c.codePoint, text.substr(i, c.length));
      i += c.length;
    }
  }
}

// C0 and C1 control characters and DEL: what a terminal may act on instead of showing.
constexpr bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The bidirectional formatting characters (marks, embeddings, overrides, isolates): invisible,
// they reorder the text around them, so a line can read other than what it says.
constexpr bool IsBidiControl(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

// What is shown escaped: the control characters and the bidirectional formatting characters.
constexpr bool ShownEscaped(char32_t c) { return IsControl(c) || IsBidiControl(c); }

}  // namespace vel
