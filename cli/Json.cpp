#include "Json.h"

#include <cstdio>

#include "Utf8.h"

namespace zandor {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  const auto escape = [&out](unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", value);
    out += buf;
  };
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8(text, i);
    if (c.length == 0) {
      // Not UTF-8: the byte read as Latin-1, so a name in an older encoding keeps its letters.
      escape(static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    switch (c.codePoint) {
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
        if (IsControl(c.codePoint)) {
          escape(static_cast<unsigned>(c.codePoint));
        } else {
          out.append(text.substr(i, c.length));
        }
    }
    i += c.length;
  }
  out += '"';
  return out;
}

}  // namespace zandor
