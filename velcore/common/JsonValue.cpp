#include "common/JsonValue.h"

namespace vel {

namespace {

// RFC 8259 with a depth limit; any deviation makes the whole text unreadable.
class JsonParser {
 public:
  JsonParser(std::string_view text, int maxDepth) : text_(text), maxDepth_(maxDepth) {}

  std::optional<JsonValue> Document() {
    JsonValue value;
    if (!Value(value, 0)) return std::nullopt;
    SkipSpace();
    if (at_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue& value, int depth) {
    if (depth > maxDepth_) return false;
    SkipSpace();
    if (at_ >= text_.size()) return false;
    switch (text_[at_]) {
      case '{':
        value.type = JsonValue::Type::kObject;
        return Object(value, depth);
      case '[':
        value.type = JsonValue::Type::kArray;
        return Array(value, depth);
      case '"':
        value.type = JsonValue::Type::kString;
        return String(value.text);
      case 't':
        value.type = JsonValue::Type::kBool;
        return Word("true");
      case 'f':
        value.type = JsonValue::Type::kBool;
        return Word("false");
      case 'n':
        return Word("null");
      default:
        value.type = JsonValue::Type::kNumber;
        return Number(value.text);
    }
  }

  bool Object(JsonValue& value, int depth) {
    ++at_;
    if (Take('}')) return true;
    do {
      std::string key;
      JsonValue member;
      SkipSpace();
      if (!String(key) || !Take(':') || !Value(member, depth + 1)) return false;
      value.keys.push_back(std::move(key));
      value.items.push_back(std::move(member));
    } while (Take(','));
    return Take('}');
  }

  bool Array(JsonValue& value, int depth) {
    ++at_;
    if (Take(']')) return true;
    do {
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
    } while (Take(','));
    return Take(']');
  }

  bool Number(std::string& out) {
    const std::size_t start = at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (!digits()) return false;
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!digits()) return false;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    out = std::string(text_.substr(start, at_ - start));
    return true;
  }

  std::optional<unsigned> Hex4() {
    if (at_ + 4 > text_.size()) return std::nullopt;
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
  }

  static void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  bool Escape(std::string& out) {
    if (at_ >= text_.size()) return false;
    const char c = text_[at_++];
    static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
    if (const std::size_t k = kFrom.find(c); k != std::string_view::npos) {
      out += kTo[k];
      return true;
    }
    if (c != 'u') return false;
    const auto high = Hex4();
    if (!high || (*high >= 0xDC00 && *high <= 0xDFFF)) return false;
    if (*high < 0xD800 || *high > 0xDBFF) {
      AppendUtf8(out, *high);
      return true;
    }
    if (!Word("\\u")) return false;
    const auto low = Hex4();
    if (!low || *low < 0xDC00 || *low > 0xDFFF) return false;
    AppendUtf8(out, 0x10000 + ((*high - 0xD800) << 10) + (*low - 0xDC00));
    return true;
  }

  bool String(std::string& out) {
    if (at_ >= text_.size() || text_[at_] != '"') return false;
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (!Escape(out)) return false;
      } else {
        out += c;
      }
    }
    return false;
  }

  std::string_view text_;
  int maxDepth_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<JsonValue> ParseJson(std::string_view text, int maxDepth) {
  return JsonParser(text, maxDepth).Document();
}

}  // namespace vel
