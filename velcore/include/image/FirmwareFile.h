#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/ProgressSink.h"
#include "image/FirmwareInfo.h"
#include "image/VelHexFile.h"
#include "image/VelMemMap.h"

namespace vel {

constexpr int kImageSlots = 10;

// One image of a firmware file: its record chain, record count and metadata.
struct ImageSlot {
  RecordChain chain;
  std::int32_t recordCount = 0;
  FirmwareInfo info;
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

// One load of a firmware file: its text, up to ten image slots and what they share. The loader
// fills it and nothing changes it after that, so the documents that read one file can share one
// load across threads. The memory maps made from the images stay with the load, one per image
// and kind of device, each built once by the first reader that asks for it.
class LoadedFirmware {
 public:
  LoadedFirmware() = default;
  LoadedFirmware(const LoadedFirmware&) = delete;
  LoadedFirmware& operator=(const LoadedFirmware&) = delete;

  const ImageSlot& Slot(int k) const { return slots_.at(static_cast<std::size_t>(k)); }
  const VelHexFile* Chain(int k) const { return Slot(k).chain.Head(); }
  std::int32_t RecordCount(int k) const { return Slot(k).recordCount; }
  const FirmwareInfo& Info(int k) const { return Slot(k).info; }
  const SharedMetadata& Shared() const { return shared_; }
  int ImageCount() const { return imageCount_; }
  bool MetadataPresent() const { return metadataPresent_; }
  // Slot 0 holds a loader before the units' image in slot 1 (the family table says which).
  bool FirstTypeFlag() const { return firstTypeFlag_; }
  // Slot 1 is a loader that unit 0 is handed over to (the family table says which).
  bool SecondTypeFlag() const { return secondTypeFlag_; }
  std::int64_t TotalRecordsRead() const { return totalRecordsRead_; }
  const std::string& FileName() const { return fileName_; }
  // The SHA-256 digest of the file's bytes (64 lower-case hexadecimal digits), which names the
  // exact file a walk sent in its report.
  const std::string& Digest() const { return digest_; }
  bool HasFile() const { return slots_[0].chain.Head() != nullptr; }
  // The file's text as it was read.
  std::string_view Text() const { return {text_.get(), textSize_}; }

  // The slot's memory map for a device of the JQH family (`jqhDevice`) or of another, built on
  // first use (one progress step per record when a sink is given); a caller that asks while
  // another builds it waits for that map.
  std::shared_ptr<const VelMemMap> Map(int k, bool jqhDevice, ProgressSink* progress) const;

  // Tests every record of every image: its checksum, its type, that it stays within its segment
  // and has its line to itself, and that no data record gives other data to bytes an earlier one
  // filled; a file holding a record that lost its ':' fails too, and so does one with an image
  // that carries no metadata where the others do. With a sink that accepts a
  // progress operation, shows progress and honours a cancel request.
  HexTestOutcome TestHexFile(ProgressSink* progress) const;
  // What makes the checksum test fail, the earliest in the file; nothing for a sound file.
  // Looked for once per load.
  std::optional<HexDefect> FirstDefect() const;
  // Records in all images.
  std::int64_t TotalRecordCount() const;

 private:
  friend class HexFileLoader;

  std::optional<HexDefect> FindFirstDefect() const;
  // What is wrong with one record of an image by itself, if anything.
  static std::optional<HexDefect> RecordDefect(int slot, const VelHexFile& node);
  // The first record of an image that changes data an earlier one placed, if any.
  std::optional<HexDefect> OverlapDefect(int slot) const;
  // An image of the count that names no device type while the file carries metadata: no unit
  // could be given it, so the data after a stray end record would go to no device.
  std::optional<HexDefect> MetadataDefect(int slot) const;
  // A map of the slot already built, for either kind of device; nullptr when none is.
  std::shared_ptr<const VelMemMap> BuiltMap(int k) const;

  std::array<ImageSlot, kImageSlots> slots_;
  // The file's text, which the records' data stay in: read whole, or a text given whole. Held
  // apart, so a record's view of it never moves.
  std::shared_ptr<const char> text_;
  std::size_t textSize_ = 0;
  SharedMetadata shared_;
  int imageCount_ = 0;
  bool metadataPresent_ = false;
  bool firstTypeFlag_ = false;
  bool secondTypeFlag_ = false;
  std::int64_t totalRecordsRead_ = 0;
  std::int64_t colonlessRecordLine_ = 0;
  std::string fileName_;
  std::string digest_;

  // The maps made from the images, by slot and by kind of device (index 1: JQH).
  struct MapEntry {
    std::mutex building;  // held while the map is built
    std::shared_ptr<const VelMemMap> map;
  };
  mutable std::array<std::array<MapEntry, 2>, kImageSlots> maps_;
  mutable std::mutex defectSearch_;  // guards firstDefect_
  // FirstDefect's answer, once it was looked for.
  mutable std::optional<std::optional<HexDefect>> firstDefect_;
};

// A document's firmware file: a load, its own or shared with other documents, and the memory
// maps this document reads. Those maps start as copies of the load's maps (sharing their
// segments) and take what the document writes into them (a device's serial number) for
// themselves, so nothing one document writes reaches another.
class FirmwareFile {
 public:
  FirmwareFile() : loaded_(std::make_shared<const LoadedFirmware>()) {}

  const ImageSlot& Slot(int k) const { return loaded_->Slot(k); }
  const VelHexFile* Chain(int k) const { return loaded_->Chain(k); }
  std::int32_t RecordCount(int k) const { return loaded_->RecordCount(k); }
  const FirmwareInfo& Info(int k) const { return loaded_->Info(k); }
  const SharedMetadata& Shared() const { return loaded_->Shared(); }
  int ImageCount() const { return loaded_->ImageCount(); }
  bool MetadataPresent() const { return loaded_->MetadataPresent(); }
  // Slot 0 holds a loader before the units' image in slot 1 (the family table says which).
  bool FirstTypeFlag() const { return loaded_->FirstTypeFlag(); }
  // Slot 1 is a loader that unit 0 is handed over to (the family table says which).
  bool SecondTypeFlag() const { return loaded_->SecondTypeFlag(); }
  std::int64_t TotalRecordsRead() const { return loaded_->TotalRecordsRead(); }
  const std::string& FileName() const { return loaded_->FileName(); }
  const std::string& Digest() const { return loaded_->Digest(); }
  bool HasFile() const { return loaded_->HasFile(); }

  // Takes a load (perhaps one other documents hold too) in place of the last, with none of this
  // document's maps.
  void Adopt(std::shared_ptr<const LoadedFirmware> loaded);
  const std::shared_ptr<const LoadedFirmware>& Loaded() const { return loaded_; }

  // The slot's memory map, made on first use (one progress step per record when a sink is given
  // and the load has no such map yet). `jqhDevice` is true when the identified device is of the
  // JQH family.
  const VelMemMap& GetMemMap(int k, ProgressSink* progress = nullptr, bool jqhDevice = false);
  // The map if it has been made, without making it.
  const VelMemMap* MemMap(int k) const { return maps_.at(static_cast<std::size_t>(k)).get(); }
  VelMemMap* MutableMemMap(int k) { return maps_.at(static_cast<std::size_t>(k)).get(); }

  HexTestOutcome TestHexFile(ProgressSink* progress) const {
    return loaded_->TestHexFile(progress);
  }
  std::optional<HexDefect> FirstDefect() const { return loaded_->FirstDefect(); }
  std::int64_t TotalRecordCount() const { return loaded_->TotalRecordCount(); }

 private:
  std::shared_ptr<const LoadedFirmware> loaded_;  // never null
  std::array<std::unique_ptr<VelMemMap>, kImageSlots> maps_;
};

// The messages that report a test outcome, in the order they are shown.
std::vector<int> HexTestMessageIds(HexTestOutcome outcome);

// One sentence naming a defect, for example "Record 12 of image 1 (line 14) fails its checksum."
// or "Line 14 holds hexadecimal digits without the ':' that starts a record."
std::string DescribeDefect(const HexDefect& defect);

}  // namespace vel
