#pragma once

#include <algorithm>
#include <fstream>
#include <string>

#include "SampleGen.h"
#include "support/TempDir.h"

namespace vel::testing {

// The sample firmware files with every segment's data cut to its first `bytesPerSegment`
// bytes, written once into a folder of their own: the same families and layouts, short
// transfers. (Users link samplegen.)
class CutSamples {
 public:
  explicit CutSamples(std::size_t bytesPerSegment) {
    for (auto sample : samplegen::StandardSamples()) {
      for (auto& image : sample.images) {
        image.bytesPerSegment = std::min(image.bytesPerSegment, bytesPerSegment);
      }
      std::ofstream(dir_.File(sample.fileName), std::ios::binary)
          << samplegen::Generate(sample.images).text;
    }
  }
  std::string Path(const std::string& fileName) const { return dir_.File(fileName); }

 private:
  TempDir dir_;
};

}  // namespace vel::testing
