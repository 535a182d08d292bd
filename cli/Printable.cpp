#include "Printable.h"

#include <cstdio>

#include "common/Utf8.h"

namespace zandor {

using vel::ForEachUtf8;
using vel::ShownEscaped;

std::string Printable(std::string_view text, bool oneLine) {
  std::string out;
  out.reserve(text.size());
  // A byte or C0/C1 control as "\x1B", a character beyond them as "\u202E".
  const auto escape = [&out](unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, value > 0xFF ? "\\u%04X" : "\\x%02X", value);
    out += buf;
  };
  ForEachUtf8(
      text,
      [&](char32_t c, std::string_view bytes) {
        if (c == '\n' || (c == '\r' && oneLine)) {
          out += oneLine ? ' ' : '\n';
        } else if (ShownEscaped(c) && c != '\t') {
          escape(static_cast<unsigned>(c));
        } else {
          out += bytes;
        }
      },
      escape);
  return out;
}

}  // namespace zandor
