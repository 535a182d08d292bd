#include "Printable.h"

#include <cstdio>

#include "Utf8.h"

namespace zandor {

std::string Printable(std::string_view text, bool oneLine) {
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", value & 0xFFu);
    out += buf;
  };
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8(text, i);
    if (c.length == 0) {
      escape(static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    if (c.codePoint == '\n') {
      out += oneLine ? ' ' : '\n';
    } else if (c.codePoint == '\r' && oneLine) {
      out += ' ';
    } else if (IsControl(c.codePoint) && c.codePoint != '\t') {
      escape(static_cast<unsigned>(c.codePoint));
    } else {
      out.append(text.substr(i, c.length));
    }
    i += c.length;
  }
  return out;
}

}  // namespace zandor
