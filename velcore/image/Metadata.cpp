#include "image/Metadata.h"

#include <array>
#include <charconv>
#include <string>
#include <vector>

namespace vel {

namespace {

constexpr std::array<std::string_view, 6> kKeys = {
    "HardwareVersionRange", "HardwareVersionList", "FirmwareVersion",
    "AuxiliaryVersion",     "DeviceType",          "Display",
};

// The blanks that scanf's white-space directive skips.
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::size_t SkipBlanks(std::string_view s, std::size_t p) {
  while (p < s.size() && IsBlank(s[p])) ++p;
  return p;
}

std::size_t SkipWord(std::string_view s, std::size_t p) {
  while (p < s.size() && !IsBlank(s[p])) ++p;
  return p;
}

std::string Limited(std::string_view s, std::size_t limit) {
  return std::string(s.substr(0, limit));
}

// Splits a value into tokens: a double-quoted run (blanks allowed) or a run of non-blanks.
std::vector<std::string> Tokenize(std::string_view rest) {
  std::vector<std::string> tokens;
  while (!rest.empty()) {
    std::string_view token;
    std::size_t after;
    if (rest.front() == '"') {
      const std::size_t close = rest.find('"', 1);
      token = rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
      if (token.empty()) break;  // "" yields no token and ends the list
      if (close == std::string_view::npos) {
        tokens.push_back(Limited(token, kMaxTokenLength));
        break;
      }
      after = close + 1;
    } else {
      after = SkipWord(rest, 0);
      token = rest.substr(0, after);
    }
    tokens.push_back(Limited(token, kMaxTokenLength));
    rest = rest.substr(SkipBlanks(rest, after));
  }
  return tokens;
}

// A decimal number in [low, high], or -1.
int ReadIndex(const std::string& token, int low, int high) {
  int value = 0;
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, value);
  if (ec != std::errc() || ptr != end || value < low || value > high) return -1;
  return value;
}

std::vector<std::string> ExpandRange(const std::vector<std::string>& tokens) {
  if (tokens.size() != 2 || tokens[0].size() < 2 || tokens[1].size() < 2) return {"??"};
  const auto x = static_cast<unsigned char>(tokens[0][0]);
  const auto y = static_cast<unsigned char>(tokens[0][1]);
  const auto u = static_cast<unsigned char>(tokens[1][0]);
  const auto v = static_cast<unsigned char>(tokens[1][1]);
  std::vector<std::string> list;
  for (int c = x; c <= u; ++c) {
    const int first = c == x ? y : 'A';
    const int last = c < u ? 'Z' : v;
    for (int d = first; d <= last; ++d) {
      list.push_back({static_cast<char>(c), static_cast<char>(d)});
    }
  }
  return list;
}

}  // namespace

int ParseMetadataItem(std::string_view item, FirmwareInfo& info, SharedMetadata& shared) {
  item = item.substr(0, kMaxItemLength);
  const std::size_t keyStart = SkipBlanks(item, 0);
  const std::size_t keyEnd = SkipWord(item, keyStart);
  const std::string_view key = item.substr(keyStart, keyEnd - keyStart);

  std::vector<std::string> tokens;
  std::size_t p = SkipBlanks(item, keyEnd);
  if (p < item.size() && item[p] == '=') tokens = Tokenize(item.substr(SkipBlanks(item, p + 1)));

  int index = -1;
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    if (!key.empty() && key == kKeys[i]) index = static_cast<int>(i);
  }

  switch (index) {
    case kKeyHardwareVersionRange:
      info.hardwareVersions = ExpandRange(tokens);
      break;
    case kKeyHardwareVersionList:
      info.hardwareVersions = tokens;
      break;
    case kKeyFirmwareVersion:
      if (!tokens.empty()) info.firmwareVersion = Limited(tokens[0], kMaxVersionLength);
      break;
    case kKeyAuxiliaryVersion:
      if (tokens.size() >= 2) {
        const int n = ReadIndex(tokens[0], 1, kAuxiliaryVersionCount);
        if (n > 0) shared.auxiliaryVersions[n - 1] = Limited(tokens[1], kMaxVersionLength);
      }
      break;
    case kKeyDeviceType:
      if (!tokens.empty()) info.deviceType = Limited(tokens[0], 3);
      break;
    case kKeyDisplay:
      if (tokens.size() >= 2) {
        const int n = ReadIndex(tokens[0], 1, kMaxDisplayLines);
        if (n > 0) {
          if (shared.displayLines.size() < static_cast<std::size_t>(n)) {
            shared.displayLines.resize(n);
          }
          shared.displayLines[n - 1] = tokens[1] + ": ";
        }
      }
      break;
    default:
      break;
  }
  return index;
}

bool ParseMetadataBlock(std::string_view text, std::size_t* pos, FirmwareInfo& info,
                        SharedMetadata& shared, bool* sawItem) {
  const std::size_t colon = text.find(':', *pos);
  if (colon == std::string_view::npos) return false;
  ParseMetadataText(text.substr(*pos, colon + 1 - *pos), info, shared, sawItem);
  *pos = colon;
  return true;
}

void ParseMetadataText(std::string_view text, FirmwareInfo& info, SharedMetadata& shared,
                       bool* sawItem) {
  for (std::size_t open = text.find('{'); open != std::string_view::npos;
       open = text.find('{', open + 1)) {
    *sawItem = true;
    const std::size_t start = open + 1;
    const std::size_t close = text.find('}', start);
    const std::size_t end = close == std::string_view::npos ? text.size() : close;
    ParseMetadataItem(text.substr(start, end - start), info, shared);
  }
}

}  // namespace vel
