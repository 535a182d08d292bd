// The stored files and texts the program reads: device lists, firmware files, metadata items and
// the COM port mapping file.
#include <string>

#include "FuzzTargets.h"
#include "devices/DeviceList.h"
#include "image/HexFileLoader.h"
#include "image/Metadata.h"
#include "link/PortNames.h"

namespace zandor::fuzz {

int DeviceListTarget(const std::uint8_t* data, std::size_t size) {
  const std::string stored(reinterpret_cast<const char*>(data), size);
  const auto rows = vel::DeviceList::Decode(stored);
  const auto again = vel::DeviceList::Decode(vel::DeviceList::Encode(rows));
  // Decoded fields hold no "!", so what was read writes back to the same rows.
  Require(again.size() == rows.size());
  return 0;
}

int LoaderTarget(const std::uint8_t* data, std::size_t size) {
  vel::FirmwareFile file;
  vel::HexFileLoader(file).Load(std::string(reinterpret_cast<const char*>(data), size), "fuzz.hex");
  for (int k = 0; k < vel::kImageSlots; ++k) {
    if (file.Chain(k) == nullptr) continue;
    const vel::VelMemMap& map = file.GetMemMap(k);
    std::uint8_t packet[21];
    map.MakeRecordPacket(map.FirstSegment(), 0, 0, 0, packet, {});
    for (const vel::VelHexFile* n = file.Chain(k); n != nullptr; n = n->GetNext()) {
      (void)n->GetRecord().FormatLine();
    }
  }
  file.TestHexFile(nullptr);
  return 0;
}

int MetadataItemTarget(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vel::FirmwareInfo info;
  vel::SharedMetadata shared;
  vel::ParseMetadataItem(text, info, shared);
  const std::string block = text + ":";
  std::size_t pos = 0;
  bool saw = false;
  vel::ParseMetadataBlock(block, &pos, info, shared, &saw);
  Require(info.deviceType.size() <= 3 && info.firmwareVersion.size() <= 3);
  Require(shared.displayLines.size() <= vel::kMaxDisplayLines);
  return 0;
}

int PortMapTarget(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const vel::PortNameMap map = vel::PortNameMap::ParseFile(text);
  // What the file held writes back to a file that reads the same; every entry resolves.
  const vel::PortNameMap again = vel::PortNameMap::ParseFile(map.FileText());
  Require(again.Entries() == map.Entries());
  for (const auto& [name, path] : map.Entries()) Require(map.Resolve(name) == path);
  (void)vel::PortNameMap::Parse(text).Resolve(std::string(text.substr(0, 8)));
  return 0;
}

}  // namespace zandor::fuzz
