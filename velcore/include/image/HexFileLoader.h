#pragma once

#include <memory>
#include <string>

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

  // Loads the file's whole text; the file keeps it (its records read their data from it).
  LoadResult Load(std::string text, const std::string& fileName);
  LoadResult LoadPath(const std::string& path);

 private:
  LoadResult LoadHeld(std::shared_ptr<const char> text, std::size_t size,
                      const std::string& fileName);
  LoadResult ReadImages(std::string_view text, LineCounter& lines);
  // Moves *pos to the next image's '{' or ':'; false when the text ends first.
  static bool FindNextImage(std::string_view text, std::size_t* pos);

  FirmwareFile& file_;
  ProgressSink* progress_;
};

// The first line of a text that holds nothing but hexadecimal digits (at least a whole record's
// worth, blanks around them allowed): a record that lost its ':'. 0 when there is none.
std::int64_t FirstColonlessRecordLine(std::string_view text);

}  // namespace vel
