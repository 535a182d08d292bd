#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace vel {

// printf-style formatting into a string (the message texts carry printf conversions).
[[gnu::format(printf, 1, 2)]] inline std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
  va_end(args);
  return out;
}

}  // namespace vel
