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
  ForEachUtf8(
      text,
      [&](char32_t c, std::string_view bytes) {
        if (c == '\n' || (c == '\r' && oneLine)) {
          out += oneLine ? ' ' : '\n';
        } else if (IsControl(c) && c != '\t') {
          escape(static_cast<unsigned>(c));
        } else {
          out += bytes;
        }
      },
      escape);
  return out;
}

}  // namespace zandor
