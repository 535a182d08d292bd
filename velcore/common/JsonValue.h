#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vel {

// A parsed JSON value: a number keeps its text, a string its decoded text.
struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  std::string text;
  std::vector<JsonValue> items;   // an array's; an object's values
  std::vector<std::string> keys;  // an object's keys, one for each of its items

  const JsonValue* Member(const std::string& key) const {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == key) return &items[i];
    }
    return nullptr;
  }
};

// The value `text` holds (RFC 8259), nested at most `maxDepth` deep; nothing when the text is
// not exactly one such value, whatever its bytes.
std::optional<JsonValue> ParseJson(std::string_view text, int maxDepth);

}  // namespace vel
