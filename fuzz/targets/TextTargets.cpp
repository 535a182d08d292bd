// Texts the command line takes (targets and keys) and the JSON it writes.
#include <algorithm>
#include <optional>
#include <string>

#include "FuzzTargets.h"
#include "Json.h"
#include "devices/DeviceOperations.h"
#include "devices/KeyMask.h"
#include "image/HexText.h"
#include "link/KeyText.h"
#include "link/TcpLink.h"

namespace zandor::fuzz {

namespace {

bool IsHexDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return vel::HexDigitValue(c) >= 0; });
}

// Appends the UTF-8 form of a code point.
void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the well-formed UTF-8 sequence at `pos` (shortest form, no surrogates, at most
// U+10FFFF), or 0.
std::size_t Utf8SequenceAt(std::string_view s, std::size_t pos) {
  const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > s.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

bool IsUtf8(std::string_view s) {
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t n = Utf8SequenceAt(s, pos);
    if (n == 0) return false;
    pos += n;
  }
  return true;
}

// The text a JSON string literal stands for, or nothing when `literal` is not exactly one string
// literal in well-formed UTF-8 (RFC 8259, with no lone surrogate escapes). Written apart from the
// writer's own UTF-8 reading (common/Utf8.h) on purpose: the check must not share its faults.
std::optional<std::string> DecodeJsonString(std::string_view literal) {
  if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return std::nullopt;
  std::string out;
  for (std::size_t pos = 1; pos + 1 < literal.size();) {
    const unsigned char c = static_cast<unsigned char>(literal[pos]);
    if (c == '"' || c < 0x20) return std::nullopt;
    if (c != '\\') {
      const std::size_t n = Utf8SequenceAt(literal, pos);
      if (n == 0 || pos + n > literal.size() - 1) return std::nullopt;
      out.append(literal.substr(pos, n));
      pos += n;
      continue;
    }
    if (pos + 2 >= literal.size()) return std::nullopt;
    const char e = literal[pos + 1];
    pos += 2;
    switch (e) {
      case '"':
        out += '"';
        break;
      case '\\':
        out += '\\';
        break;
      case '/':
        out += '/';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        if (pos + 4 >= literal.size()) return std::nullopt;
        const std::string hex(literal.substr(pos, 4));
        if (!IsHexDigits(hex)) return std::nullopt;
        const char32_t unit = static_cast<char32_t>(std::stoul(hex, nullptr, 16));
        if (unit >= 0xD800 && unit <= 0xDFFF) return std::nullopt;
        AppendUtf8(unit, &out);
        pos += 4;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

bool IsLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whether a text holds a key by its shape, read word by word (the runs of letters and digits):
// a word of exactly 32 hexadecimal digits, or 16 words in a row of two each, every one joined to
// the next by a single '-', ':' or ' '.
bool HoldsKeyShapedText(std::string_view text) {
  std::size_t pairsInARow = 0;
  for (std::size_t start = 0; start < text.size();) {
    if (!IsLetterOrDigit(text[start])) {
      ++start;
      continue;
    }
    std::size_t end = start;
    while (end < text.size() && IsLetterOrDigit(text[end])) ++end;
    const std::string_view word = text.substr(start, end - start);
    if (word.size() == vel::kKeyDigits && IsHexDigits(word)) return true;
    const bool joined =
        start > 0 && std::string_view("-: ").find(text[start - 1]) != std::string_view::npos;
    const bool followsPair =
        pairsInARow > 0 && joined && start >= 2 && IsLetterOrDigit(text[start - 2]);
    if (word.size() == 2 && IsHexDigits(word)) {
      pairsInARow = followsPair ? pairsInARow + 1 : 1;
      if (pairsInARow == vel::kKeyBytes) return true;
    } else {
      pairsInARow = 0;
    }
    start = end;
  }
  return false;
}

// Whether a text holds a key (32 digits) in one of its usual spellings: either case, 32 digits or
// 16 pairs joined by '-', ':' or ' '.
bool HoldsKey(std::string_view text, const std::string& key) {
  std::string lowerText(text), lowerKey = key;
  for (std::string* s : {&lowerText, &lowerKey}) {
    std::transform(s->begin(), s->end(), s->begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  }
  if (lowerText.find(lowerKey) != std::string::npos) return true;
  for (const char joint : {'-', ':', ' '}) {
    std::string joined;
    for (std::size_t i = 0; i < lowerKey.size(); i += 2) {
      joined += (i ? std::string(1, joint) : "") + lowerKey.substr(i, 2);
    }
    if (lowerText.find(joined) != std::string::npos) return true;
  }
  return false;
}

// A name server of the target's own: the system's would ask the network for every input. A name
// of letters, digits, dots and hyphens is at 192.0.2.1 (kept for documentation), any other is
// unknown; no name that holds a key ever reaches it.
std::optional<std::string> DocumentationResolver(const std::string& host, std::string* error) {
  Require(!HoldsKeyShapedText(host));
  const bool nameLike = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return IsLetterOrDigit(c) || c == '.' || c == '-';
  });
  if (nameLike) return "192.0.2.1";
  *error = "Name or service not known";
  return std::nullopt;
}

}  // namespace

int TargetTextTarget(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto target = vel::ParseTarget(text, DocumentationResolver);
  // Nothing key-shaped survives masking, wherever it stood, and masking again changes nothing.
  const std::string keyless = vel::MaskKeys(text);
  Require(!HoldsKeyShapedText(keyless) && vel::MaskKeys(keyless) == keyless);
  // Whatever follows a TCP target's port is a key: neither the error nor the masked form shows it,
  // nor that key spelled anywhere else in the text.
  const std::string masked = vel::MaskedTarget(text);
  Require(!HoldsKeyShapedText(masked));
  if (target && !target->key.empty()) {
    Require(!HoldsKey(masked, target->key));
    const vel::KeyMask known({target->key});
    const std::string withoutKey = known(text);
    Require(!HoldsKey(withoutKey, target->key) && !HoldsKeyShapedText(withoutKey));
    Require(known(withoutKey) == withoutKey);
  }
  // The host ends at the first colon, or for a bracketed IPv6 host at the "]:" after it.
  std::size_t hostEnd = text.starts_with("tcp:") ? text.find(':', 4) : std::string::npos;
  if (text.starts_with("tcp:[")) {
    const std::size_t close = text.find(']');
    hostEnd = close != std::string::npos && text.compare(close + 1, 1, ":") == 0
                  ? close + 1
                  : std::string::npos;
  }
  const std::size_t portEnd =
      hostEnd == std::string::npos ? std::string::npos : text.find(':', hostEnd + 1);
  if (portEnd != std::string::npos) {
    Require(masked.ends_with("<key>"));
    // The whole text can appear in the error only when the key is empty or happens to begin
    // "<key>" itself.
    const std::string key = text.substr(portEnd + 1);
    const bool keyLooksMasked = std::string_view("<key>").starts_with(key);
    Require(keyLooksMasked || target.error().find(text) == std::string::npos);
  }
  if (target) {
    if (target->kind == vel::LinkKind::kTcp) {
      vel::TcpEndpoint endpoint;
      Require(vel::MakeEndpoint(target->address, target->port, &endpoint));
      Require(endpoint.Port() != 0);
      std::uint8_t key[vel::kKeyBytes];
      Require(target->key.empty() || vel::ParseKeyBytes(target->key, key));
    } else {
      Require(!target->portName.empty());
    }
  }
  const auto digits = vel::KeyDigits(text);
  if (digits) {
    Require(digits->size() == vel::kKeyDigits && IsHexDigits(*digits));
    Require(vel::KeyDigits(*digits) == digits);
  }
  return 0;
}

int JsonStringTarget(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string literal = JsonString(text);
  Require(IsUtf8(literal));
  const auto decoded = DecodeJsonString(literal);
  Require(decoded.has_value());
  // No bidirectional formatting character stands raw in it: U+061C, U+200E/F, U+202A-E, U+2066-9.
  for (const std::string_view bidi : {"\u061C", "\u200E", "\u200F", "\u202A", "\u202B", "\u202C",
                                      "\u202D", "\u202E", "\u2066", "\u2067", "\u2068", "\u2069"}) {
    Require(literal.find(bidi) == std::string::npos);
  }
  // Well-formed text comes back as it was; other bytes come back as their Latin-1 letters.
  if (IsUtf8(text)) Require(*decoded == text);
  return 0;
}

}  // namespace zandor::fuzz
