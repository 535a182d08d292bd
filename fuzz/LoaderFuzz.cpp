// Any bytes as a firmware file: the loader, memory maps and checksum test must not crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/HexFileLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
