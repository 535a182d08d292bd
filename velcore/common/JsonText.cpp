#include "common/JsonText.h"

#include <cstdio>

#include "common/Utf8.h"

namespace vel {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  // A byte that is not UTF-8 reads as Latin-1, so a name in an older encoding keeps its letters.
  const auto escape = [&out](unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u%04x", value);
    out += buf;
  };
  ForEachUtf8(
      text,
      [&](char32_t c, std::string_view bytes) {
        switch (c) {
          case '"':
            out += "\\\"";
            break;
          case '\\':
            out += "\\\\";
            break;
          case '\n':
            out += "\\n";
            break;
          case '\r':
            out += "\\r";
            break;
          case '\t':
            out += "\\t";
            break;
          default:
            if (ShownEscaped(c)) {
              escape(static_cast<unsigned>(c));
            } else {
              out += bytes;
            }
        }
      },
      escape);
  out += '"';
  return out;
}

}  // namespace vel
