#pragma once

#include <string_view>

#include "image/FirmwareInfo.h"

namespace vel {

// Indices of the six metadata keys.
enum MetadataKey {
  kKeyHardwareVersionRange = 0,
  kKeyHardwareVersionList = 1,
  kKeyFirmwareVersion = 2,
  kKeyAuxiliaryVersion = 3,
  kKeyDeviceType = 4,
  kKeyDisplay = 5,
};

constexpr std::size_t kMaxItemLength = 200;
constexpr std::size_t kMaxTokenLength = 20;
constexpr std::size_t kMaxVersionLength = 3;

// Parses one braced item's text ("Key = tokens...") and applies it to the slot's info or the
// shared fields. Returns the key's index, or -1 for a key outside the table. A known key with too
// few or unusable tokens changes nothing.
int ParseMetadataItem(std::string_view item, FirmwareInfo& info, SharedMetadata& shared);

// Takes the text from *pos up to and including the first ':', applies every "{" item in it, and
// leaves *pos at the ':'. Sets *sawItem when a '{' was met. Returns false when the text has no
// ':' from *pos.
bool ParseMetadataBlock(std::string_view text, std::size_t* pos, FirmwareInfo& info,
                        SharedMetadata& shared, bool* sawItem);
// Applies every "{" item of a block's text; sets *sawItem when a '{' was met.
void ParseMetadataText(std::string_view text, FirmwareInfo& info, SharedMetadata& shared,
                       bool* sawItem);

}  // namespace vel
