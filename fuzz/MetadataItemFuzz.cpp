// Any bytes as one metadata item, and as a metadata block ahead of a record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/Metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vel::FirmwareInfo info;
  vel::SharedMetadata shared;
  vel::ParseMetadataItem(text, info, shared);
  const std::string block = text + ":";
  std::size_t pos = 0;
  bool saw = false;
  vel::ParseMetadataBlock(block, &pos, info, shared, &saw);
  if (info.deviceType.size() > 3 || info.firmwareVersion.size() > 3) __builtin_trap();
  if (shared.displayLines.size() > vel::kMaxDisplayLines) __builtin_trap();
  return 0;
}
