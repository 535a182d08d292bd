#include "SampleGen.h"

#include <algorithm>
#include <cstdio>

namespace samplegen {

namespace {

void AppendRecord(std::string& out, int count, unsigned address, int type,
                  const std::uint8_t* data) {
  char buf[16];
  std::snprintf(buf, sizeof buf, ":%02X%04X%02X", count, address, type);
  out += buf;
  unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) +
                 static_cast<unsigned>(type);
  for (int i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", data[i]);
    out += buf;
    sum += data[i];
  }
  std::snprintf(buf, sizeof buf, "%02X\r\n", (0u - sum) & 0xFF);
  out += buf;
}

void AppendAddressRecord(std::string& out, int type, int segment) {
  // Type 02 carries segment << 12 (the paragraph), type 04 the upper address word.
  const unsigned value =
      type == 2 ? static_cast<unsigned>(segment) << 12 : static_cast<unsigned>(segment);
  const std::uint8_t data[2] = {static_cast<std::uint8_t>(value >> 8),
                                static_cast<std::uint8_t>(value & 0xFF)};
  AppendRecord(out, 2, 0, type, data);
}

}  // namespace

GeneratedFile Generate(const std::vector<ImageSpec>& images) {
  GeneratedFile file;
  for (const ImageSpec& image : images) {
    for (const std::string& item : image.metadataItems) file.text += "{" + item + "}\r\n";
    auto& expected = file.expected.emplace_back();
    std::uint32_t state = image.seed;
    for (int segment : image.segments) {
      AppendAddressRecord(file.text, image.addressRecordType, segment);
      std::vector<std::uint8_t>& bytes = expected[segment];
      bytes.assign(0x10000, 0xFF);
      for (std::size_t offset = 0; offset < image.bytesPerSegment;
           offset += static_cast<std::size_t>(image.bytesPerRecord)) {
        const int count = static_cast<int>(
            std::min<std::size_t>(image.bytesPerRecord, image.bytesPerSegment - offset));
        for (int i = 0; i < count; ++i) {
          state = state * 1664525u + 1013904223u;
          bytes[offset + i] = static_cast<std::uint8_t>(state >> 24);
        }
        AppendRecord(file.text, count, static_cast<unsigned>(offset), 0, &bytes[offset]);
      }
    }
    file.text += ":00000001FF\r\n";
  }
  return file;
}

ImageSpec FullSegmentsImage(int segments) {
  ImageSpec image;
  image.metadataItems = {"DeviceType = G6", "FirmwareVersion = 200"};
  for (int s = 0; s < segments; ++s) image.segments.push_back(s);
  image.seed = 7;
  return image;
}

std::vector<Sample> StandardSamples() {
  ImageSpec single;
  single.metadataItems = {"DeviceType = \"G3 \"", "FirmwareVersion = 123",
                          "HardwareVersionList = AA AB AC", "AuxiliaryVersion = 1 B07",
                          "Display = 1 Boot"};
  single.segments = {0xFF};
  single.seed = 11;

  ImageSpec kesta128;
  kesta128.metadataItems = {"DeviceType = \"N8 \"", "FirmwareVersion = 210",
                            "HardwareVersionRange = AA AF"};
  kesta128.segments = {254, 255};
  kesta128.seed = 12;

  std::vector<ImageSpec> station;
  const char* kModules[] = {"Main", "RCM", "OSD"};
  for (int k = 0; k < 3; ++k) {
    ImageSpec image;
    image.metadataItems = {
        "DeviceType = \"H2 \"", "FirmwareVersion = 1" + std::to_string(k) + "0",
        std::string("Display = ") + std::to_string(k + 1) + " " + kModules[k],
        "AuxiliaryVersion = " + std::to_string(k + 1) + " 10" + std::to_string(k)};
    image.segments = {0xFF};
    image.bytesPerSegment = k == 0 ? 0x10000 : 0x4000;
    image.seed = 20 + static_cast<std::uint32_t>(k);
    station.push_back(image);
  }

  ImageSpec multi;
  multi.metadataItems = {"DeviceType = G4", "FirmwareVersion = 305",
                         "HardwareVersionList = \"A1\" B2", "AuxiliaryVersion = 2 011",
                         "Display = 2 \"FPGA core\""};
  multi.segments = {0, 1};
  multi.addressRecordType = 2;
  multi.bytesPerSegment = 0x8000;
  multi.seed = 30;

  ImageSpec many = FullSegmentsImage(12);
  many.metadataItems = {"DeviceType = G6", "FirmwareVersion = 401", "HardwareVersionList = ??"};
  many.bytesPerRecord = 32;
  many.bytesPerSegment = 0x2000;
  many.seed = 40;

  // One image of the given segments, each `bytes` long, from a seed.
  const auto image = [](std::vector<std::string> items, std::vector<int> segments,
                        std::size_t bytes, std::uint32_t seed, int addressType = 4) {
    ImageSpec spec;
    spec.metadataItems = std::move(items);
    spec.segments = std::move(segments);
    spec.bytesPerSegment = bytes;
    spec.seed = seed;
    spec.addressRecordType = addressType;
    return spec;
  };
  const std::vector<std::string> any = {"HardwareVersionList = ??", "FirmwareVersion = 200"};
  const auto with = [&any](std::string type, std::vector<std::string> more = {}) {
    std::vector<std::string> items = any;
    items.push_back("DeviceType = " + type);
    items.insert(items.end(), more.begin(), more.end());
    return items;
  };

  return {
      {"dravik-ypc.hex", {image(with("YPC"), {254, 255}, 0x6000, 50)}},
      {"dravik-ypk.hex", {image(with("YPK"), {0xFF}, 0x2000, 51)}},
      // The second record block of these files carries no metadata of its own.
      {"dravik-ypa.hex",
       {image(with("YPA"), {0xFF}, 0x2000, 52), image({}, {254, 255}, 0x5000, 53)}},
      // Data in every block of both phases, so that a block left out never compares equal.
      {"dravik-128k.hex",
       {image(with("YPB", {"AuxiliaryVersion = 2 100"}), {254, 255}, 0x10000, 54),
        image({}, {0, 1, 2, 3, 4, 5}, 0x10000, 55)}},
      {"tzt-two-images.hex",
       {image(with("TZT"), {0xFF}, 0x10000, 56), image({}, {254, 255}, 0x4000, 57)}},
      {"hub-jqh.hex", {image(with("JQH"), {0xFF}, 0x1200, 58)}},
      {"xxx-two-images.hex",
       {image(with("XXX"), {0, 1}, 0x5000, 59, 2), image(with("XXX"), {254, 255}, 0x3000, 60)}},
      // A multi-unit file with the loader image of the KestaS units in slot 1.
      {"kesta-nb-loader.hex",
       {image(with("G4"), {0}, 0x4000, 63, 2), image(with("\"NB \""), {0}, 0x3000, 64, 2)}},
      {"loader-g5.hex",
       {image(with("G5"), {0, 1}, 0x4800, 61, 2), image(with("G5"), {0}, 0x6000, 62, 2)}},
      {"single-64k.hex", {single}},
      {"kesta-128k.hex", {kesta128}},
      {"station-three-images.hex", station},
      {"multi-unit.hex", {multi}},
      {"many-segments.hex", {many}},
  };
}

}  // namespace samplegen
