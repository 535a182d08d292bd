#pragma once

#include <string>

#include "common/ByteStream.h"
#include "common/ProgressSink.h"
#include "image/FirmwareFile.h"

namespace vel {

enum class LoadStatus { kLoaded, kCannotOpen, kUnexpectedFormat };

struct LoadResult {
  LoadStatus status = LoadStatus::kLoaded;
  // For kCannotOpen the system's reason; for kUnexpectedFormat what was wrong, for the log.
  std::string detail;
  bool ok() const { return status == LoadStatus::kLoaded; }
};

// Splits a firmware file into its images (each an optional metadata block and records up to an
// end record) and fills the file's slots. A failed load keeps the images read before the fault.
class HexFileLoader {
 public:
  explicit HexFileLoader(FirmwareFile& file, ProgressSink* progress = nullptr)
      : file_(file), progress_(progress) {}

  LoadResult Load(ByteStream& in, const std::string& fileName);
  LoadResult LoadPath(const std::string& path);

 private:
  LoadResult ReadImages(ByteStream& in);
  // Positions the stream at the next image's '{' or ':'; false when the file ends first.
  static bool FindNextImage(ByteStream& in);

  FirmwareFile& file_;
  ProgressSink* progress_;
};

}  // namespace vel
