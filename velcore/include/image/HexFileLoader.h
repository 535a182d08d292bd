#pragma once

#include <memory>
#include <string>

#include "common/ProgressSink.h"
#include "image/FileStamp.h"
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
// end record) and fills the slots of a new load. A failed load keeps the images read before the
// fault.
class HexFileLoader {
 public:
  // Loads into a document's file in place of its last load; the hardware version lists and display
  // lines of that load stay where the new file gives none of its own.
  explicit HexFileLoader(FirmwareFile& file, ProgressSink* progress = nullptr)
      : file_(&file), progress_(progress) {}
  // Loads for sharing among documents: see Loaded().
  explicit HexFileLoader(ProgressSink* progress = nullptr) : progress_(progress) {}

  // Loads the file's whole text; the load keeps it (its records read their data from it).
  LoadResult Load(std::string text, const std::string& fileName);
  LoadResult LoadPath(const std::string& path);

  // The last load, nullptr when the file could not be read at all.
  const std::shared_ptr<const LoadedFirmware>& Loaded() const { return loaded_; }
  // The file the last LoadPath read, as it stood when it was opened.
  const FileStamp& Stamp() const { return stamp_; }

 private:
  LoadResult LoadHeld(std::shared_ptr<const char> text, std::size_t size,
                      const std::string& fileName);
  LoadResult ReadImages(LoadedFirmware& file, std::string_view text, LineCounter& lines);
  // Moves *pos to the next image's '{' or ':'; false when the text ends first.
  static bool FindNextImage(std::string_view text, std::size_t* pos);

  FirmwareFile* file_ = nullptr;
  ProgressSink* progress_;
  std::shared_ptr<const LoadedFirmware> loaded_;
  FileStamp stamp_;
};

// The first line of a text that holds nothing but hexadecimal digits (at least a whole record's
// worth, blanks around them allowed): a record that lost its ':'. 0 when there is none.
std::int64_t FirstColonlessRecordLine(std::string_view text);

}  // namespace vel
