#include "families/TypeCode.h"

namespace vel {

bool CodeMatches(std::string_view code, std::string_view pattern, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    const char a = i < code.size() ? code[i] : '\0';
    const char b = i < pattern.size() ? pattern[i] : '\0';
    if (a != b) return false;
    if (a == '\0') return true;
  }
  return true;
}

}  // namespace vel
