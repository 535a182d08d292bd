#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/ProgressSink.h"
#include "image/FirmwareInfo.h"
#include "image/VelHexFile.h"
#include "image/VelMemMap.h"

namespace vel {

constexpr int kImageSlots = 10;

// One image of a firmware file: its record chain, record count, metadata and memory map.
struct ImageSlot {
  RecordChain chain;
  std::int32_t recordCount = 0;
  FirmwareInfo info;
  std::unique_ptr<VelMemMap> memMap;  // built on first use
};

enum class HexTestOutcome { kNoFile, kPassed, kFailed, kCancelled };

// The first fault the checksum test finds in a file.
struct HexDefect {
  enum class Kind {
    kChecksum,      // a record whose checksum does not match its fields
    kMissingColon,  // a line of hexadecimal digits alone: a record that lost its ':'
    kUnknownType,   // a record type that Intel HEX does not have (above 05)
    kWrapsSegment,  // a data record running past the end of its 64 KiB segment
    kTrailingText,  // other characters after a record on its line
    kOverlap,       // a data record giving other data to bytes an earlier record filled
    kNoMetadata,    // an image without metadata in a file whose other images carry it
  };
  Kind kind = Kind::kChecksum;
  int slot = 0;              // image of the record (all but kMissingColon)
  std::int32_t record = 0;   // record number within its image (all but kMissingColon)
  std::int64_t line = 0;     // line of the file
  std::uint8_t type = 0;     // the record type (kUnknownType)
  std::uint8_t segment = 0;  // where the earlier data stand (kOverlap)
  std::uint16_t offset = 0;
};

// The loaded firmware file: up to ten image slots and what they share. The loader fills it;
// everything else reads it.
class FirmwareFile {
 public:
  const ImageSlot& Slot(int k) const { return slots_.at(static_cast<std::size_t>(k)); }
  const VelHexFile* Chain(int k) const { return Slot(k).chain.Head(); }
  std::int32_t RecordCount(int k) const { return Slot(k).recordCount; }
  const FirmwareInfo& Info(int k) const { return Slot(k).info; }
  const SharedMetadata& Shared() const { return shared_; }
  int ImageCount() const { return imageCount_; }
  bool MetadataPresent() const { return metadataPresent_; }
  // Slot 0's device type begins with "G5".
  bool FirstTypeFlag() const { return firstTypeFlag_; }
  // Slot 1's device type begins with "NB".
  bool SecondTypeFlag() const { return secondTypeFlag_; }
  std::int64_t TotalRecordsRead() const { return totalRecordsRead_; }
  const std::string& FileName() const { return fileName_; }
  // The SHA-256 digest of the file's bytes (64 lower-case hexadecimal digits), which names the
  // exact file a walk sent in its report.
  const std::string& Digest() const { return digest_; }
  bool HasFile() const { return slots_[0].chain.Head() != nullptr; }

  // The slot's memory map, built on first use (one progress step per record when a sink is
  // given). `jqhDevice` is true when the identified device is of the JQH family.
  const VelMemMap& GetMemMap(int k, ProgressSink* progress = nullptr, bool jqhDevice = false);
  // The map if it has been built, without building it.
  const VelMemMap* MemMap(int k) const { return Slot(k).memMap.get(); }
  VelMemMap* MutableMemMap(int k) { return slots_.at(static_cast<std::size_t>(k)).memMap.get(); }

  // Tests every record of every image: its checksum, its type, that it stays within its segment
  // and has its line to itself, and that no data record gives other data to bytes an earlier one
  // filled; a file holding a record that lost its ':' fails too, and so does one with an image
  // that carries no metadata where the others do. With a sink that accepts a
  // progress operation, shows progress and honours a cancel request.
  HexTestOutcome TestHexFile(ProgressSink* progress) const;
  // What makes the checksum test fail, the earliest in the file; nothing for a sound file.
  // Looked for once per loaded file.
  std::optional<HexDefect> FirstDefect() const;
  // Records in all images.
  std::int64_t TotalRecordCount() const;

 private:
  friend class HexFileLoader;

  // Forgets the previous file, keeping the display lines and hardware version lists.
  void Reset();
  std::optional<HexDefect> FindFirstDefect() const;
  // What is wrong with one record of an image by itself, if anything.
  static std::optional<HexDefect> RecordDefect(int slot, const VelHexFile& node);
  // The first record of an image that changes data an earlier one placed, if any.
  std::optional<HexDefect> OverlapDefect(int slot) const;
  // An image of the count that names no device type while the file carries metadata: no unit
  // could be given it, so the data after a stray end record would go to no device.
  std::optional<HexDefect> MetadataDefect(int slot) const;

  std::array<ImageSlot, kImageSlots> slots_;
  // The file's text, which the records' data stay in: the file mapped into memory, or a text
  // given whole. Held apart, so a record's view of it never moves.
  std::shared_ptr<const char> text_;
  SharedMetadata shared_;
  int imageCount_ = 0;
  bool metadataPresent_ = false;
  bool firstTypeFlag_ = false;
  bool secondTypeFlag_ = false;
  std::int64_t totalRecordsRead_ = 0;
  std::int64_t colonlessRecordLine_ = 0;
  std::string fileName_;
  std::string digest_;
  // FirstDefect's answer, once it was looked for.
  mutable std::optional<std::optional<HexDefect>> firstDefect_;
};

// The messages that report a test outcome, in the order they are shown.
std::vector<int> HexTestMessageIds(HexTestOutcome outcome);

// One sentence naming a defect, for example "Record 12 of image 1 (line 14) fails its checksum."
// or "Line 14 holds hexadecimal digits without the ':' that starts a record."
std::string DescribeDefect(const HexDefect& defect);

}  // namespace vel
