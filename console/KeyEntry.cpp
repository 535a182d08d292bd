#include "KeyEntry.h"

#include <cctype>

namespace zandorui {

namespace {

constexpr std::size_t kKeyLength = 47;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

TypedKey FormatTypedKey(const std::string& text, int caret) {
  const std::size_t length = text.size();
  if (length > kKeyLength) return {Upper(text.substr(0, kKeyLength)), static_cast<int>(kKeyLength)};
  if (length == 0) return {text, caret};
  switch (length % 3) {
    case 2:  // a pair is complete
      return {Upper(length < kKeyLength ? text + "-" : text), caret + 1};
    case 1:
      return {Upper(text), caret};
    default:  // a digit typed where the dash belongs: the dash goes in before it
      return {Upper(text.substr(0, length - 1) + "-" + text.back()), caret + 1};
  }
}

bool IsKeyEntryCharacter(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace zandorui
