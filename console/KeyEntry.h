#pragma once

#include <string>

namespace zandorui {

// The key editor's text as the operator types it: upper-case pairs of hexadecimal digits with a
// dash after each complete pair, 47 characters at most.
struct TypedKey {
  std::string text;
  int caret = 0;
};

// The text after a typed character (not after Backspace, which deletes without reformatting):
// `caret` is where the caret stood after the character went in.
TypedKey FormatTypedKey(const std::string& text, int caret);

// Whether a typed character belongs in the key editor (Backspace is let through besides).
bool IsKeyEntryCharacter(char c);

}  // namespace zandorui
