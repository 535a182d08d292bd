#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace vel {

// printf-style formatting into a string (the message texts carry printf conversions).
[[gnu::format(printf, 1, 2)]] inline std::string Format(const char* format, ...) {
  // One pass into a stack buffer covers every message text; longer results take a second pass.
  char small[256];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string out;
  if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(length));
  } else if (length > 0) {
    out.resize(static_cast<std::size_t>(length));
    std::vsnprintf(out.data(), out.size() + 1, format, copy);
  }
  va_end(copy);
  return out;
}

}  // namespace vel
