#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace samplegen {

// One image of a generated firmware file.
struct ImageSpec {
  std::vector<std::string> metadataItems;  // item texts without braces, e.g. "DeviceType = G3"
  std::vector<int> segments;               // segments filled, in file order
  std::size_t bytesPerSegment = 0x10000;   // bytes filled from offset 0 of each segment
  int addressRecordType = 4;               // 2 (extended segment) or 4 (extended linear)
  int bytesPerRecord = 16;
  std::uint32_t seed = 1;
};

struct GeneratedFile {
  std::string text;
  // Per image, the bytes each filled segment must hold (the expected memory map).
  std::vector<std::map<int, std::vector<std::uint8_t>>> expected;
};

GeneratedFile Generate(const std::vector<ImageSpec>& images);

struct Sample {
  std::string fileName;
  std::vector<ImageSpec> images;
};

// The sample set shipped under samples/.
std::vector<Sample> StandardSamples();

// The benchmark's file: `segments` full segments of 16-byte records.
ImageSpec FullSegmentsImage(int segments);

}  // namespace samplegen
