#include "devices/KeyMask.h"

#include <algorithm>

#include "devices/DeviceList.h"
#include "image/HexText.h"

namespace vel {

namespace {

constexpr std::string_view kMasked = "<key>";

bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }

bool IsLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsPairJoint(char c) { return c == '-' || c == ':' || c == ' '; }

char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The length of the key spelled at the start of `text` (32 hexadecimal digits, or 16 pairs each
// joined to the next by '-', ':' or ' '), its digits lower-cased into `digits`; 0 when none is.
std::size_t SpelledKeyLength(std::string_view text, std::array<char, kKeyDigits>* digits) {
  const bool joined = text.size() > 2 && IsPairJoint(text[2]);
  const std::size_t step = joined ? 3 : 2;
  const std::size_t length = joined ? kDashedKeyLength : kKeyDigits;
  if (text.size() < length) return 0;
  for (std::size_t pair = 0; pair < kKeyBytes; ++pair) {
    const std::size_t at = pair * step;
    if (!IsHexDigit(text[at]) || !IsHexDigit(text[at + 1])) return 0;
    if (joined && pair + 1 < kKeyBytes && !IsPairJoint(text[at + 2])) return 0;
    (*digits)[2 * pair] = ToLowerAscii(text[at]);
    (*digits)[2 * pair + 1] = ToLowerAscii(text[at + 1]);
  }
  return length;
}

// `text` with every stretch that the keys found by `keyAt` cover replaced by "<key>", keys that
// overlap making one stretch. keyAt(text, i) is the length of the key found at i, or 0.
template <typename KeyAt>
std::string MaskStretches(std::string_view text, const KeyAt& keyAt) {
  std::string out;
  out.reserve(text.size());
  std::size_t written = 0;  // text before this is in `out`, or masked
  std::size_t stretchStart = 0, stretchEnd = 0;
  const auto closeStretch = [&] {
    if (stretchEnd == 0) return;
    out.append(text.substr(written, stretchStart - written)).append(kMasked);
    written = stretchEnd;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t length = keyAt(text, i);
    if (length == 0) continue;
    if (i >= stretchEnd) {
      closeStretch();
      stretchStart = i;
    }
    stretchEnd = std::max(stretchEnd, i + length);
  }
  closeStretch();
  out.append(text.substr(written));
  return out;
}

// The length of the key-shaped text at `at`, or 0.
std::size_t KeyShapeAt(std::string_view text, std::size_t at) {
  if (at > 0 && IsLetterOrDigit(text[at - 1])) return 0;
  std::array<char, kKeyDigits> digits;
  const std::size_t length = SpelledKeyLength(text.substr(at), &digits);
  const std::size_t end = at + length;
  return length > 0 && (end == text.size() || !IsLetterOrDigit(text[end])) ? length : 0;
}

}  // namespace

KeyMask::KeyMask(const std::vector<std::string>& knownKeys) {
  for (const std::string& key : knownKeys) {
    KeyDigitArray digits;
    const std::size_t length = SpelledKeyLength(key, &digits);
    if (length > 0 && length == key.size()) known_.push_back(digits);
  }
  std::sort(known_.begin(), known_.end());
  known_.erase(std::unique(known_.begin(), known_.end()), known_.end());
}

std::string KeyMask::operator()(std::string_view text) const {
  const auto knownKeyAt = [this](std::string_view in, std::size_t at) -> std::size_t {
    KeyDigitArray digits;
    const std::size_t length = SpelledKeyLength(in.substr(at), &digits);
    return length > 0 && std::binary_search(known_.begin(), known_.end(), digits) ? length : 0;
  };
  // Known keys first: masking them may leave key-shaped text beside a "<key>" that the shape
  // rule then sees standing alone.
  const std::string withoutKnown =
      known_.empty() ? std::string(text) : MaskStretches(text, knownKeyAt);
  return MaskStretches(withoutKnown, KeyShapeAt);
}

KeyMask ListKeyMask(const DeviceList& list) {
  std::vector<std::string> keys;
  keys.reserve(list.Count());
  for (const DeviceEntry& row : list.Rows()) keys.push_back(row.key);
  return KeyMask(keys);
}

std::string MaskKeys(std::string_view text) { return KeyMask()(text); }

}  // namespace vel
