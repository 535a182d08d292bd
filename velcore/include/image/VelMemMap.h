#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>

#include "common/ProgressSink.h"
#include "image/VelHexFile.h"

namespace vel {

constexpr std::size_t kSegmentSize = 0x10000;
constexpr std::size_t kPageSize = 0x100;
constexpr std::size_t kTransferRecordSize = 21;
constexpr std::uint8_t kErased = 0xFF;

constexpr std::size_t kRecordBytes = 16;

// One 64 KiB segment of device memory, erased (0xFF) until data are placed.
struct VelSegment {
  VelSegment() { bytes.fill(kErased); }
  std::array<std::uint8_t, kSegmentSize> bytes;
  // The 16-byte records into which the file placed data (erased bytes of the file included).
  std::bitset<kSegmentSize / kRecordBytes> dataRecords;
  // The bytes some data record of the file gave a value.
  std::bitset<kSegmentSize> filled;
};

// A data record that gives other data to a byte an earlier record of the image filled: the
// device would keep whichever came last.
struct Overwrite {
  std::int32_t record = 0;  // the later record's number
  std::int64_t line = 0;    // and its line
  std::uint8_t segment = 0;
  std::uint16_t offset = 0;  // the first byte it changes
};

// Option flags of MakeRecordPacket.
struct PacketOptions {
  bool pageOnlyAddress = false;        // P
  bool fourPageBlocks = false;         // Q
  bool blocks128 = false;              // R
  bool blockRelativeFourPage = false;  // S
};

// The memory picture one image produces in the device: up to 256 segments, each allocated only
// when data fall into it. A copy shares the segments with the map it came from; a write gives the
// writing map a changed segment of its own, so the other copies never see it.
class VelMemMap {
 public:
  // Builds the map from a chain. `topSegmentStartsHigh` is true when the identified device is
  // of the JQH family, whose maps start the top segment at 255. With a progress sink, each record
  // steps the running progress operation once.
  explicit VelMemMap(const VelHexFile* chain, bool topSegmentStartsHigh = false,
                     ProgressSink* progress = nullptr);

  // The 256 bytes of a page, or nullptr when the segment holds no data.
  const std::uint8_t* GetPage(std::uint8_t segment, std::uint8_t page) const;
  const VelSegment* Segment(std::uint8_t segment) const { return segments_[segment].get(); }
  // The lowest segment holding data; 255 when none does.
  std::uint8_t FirstSegment() const;
  // Builds one 21-byte transfer record. When the segment does not exist only byte 3 is set, to
  // 0xFF, which the caller reports as a missing segment.
  void MakeRecordPacket(std::uint8_t segment, int block, int page, int record, std::uint8_t* packet,
                        PacketOptions options) const;

  // Overwrites bytes of an existing segment in this map alone (the serial number the update
  // writes into the image); false when the segment holds no data or the bytes would run past its
  // end.
  bool Write(std::uint8_t segment, std::size_t offset, const std::uint8_t* bytes,
             std::size_t count);

  // The first record that changed a byte an earlier record had filled; nothing when none did.
  const std::optional<Overwrite>& FirstOverwrite() const { return firstOverwrite_; }

  std::uint8_t TopSegment() const { return topSegment_; }
  std::uint16_t TopAddress() const { return topAddress_; }
  // Number of 16-byte records up to and including the last data record of the top segment.
  int RecordExtent() const { return topSegment_ * 4096 + topAddress_ / 16 + 1; }

 private:
  // The segments while the map is built.
  using Filling = std::array<std::shared_ptr<VelSegment>, 256>;
  void Place(const VelHexFile& node, Filling& filling);

  std::uint8_t currentSegment_ = 255;
  std::array<std::shared_ptr<const VelSegment>, 256> segments_;
  std::uint16_t topAddress_ = 0;
  std::uint8_t topSegment_ = 0;
  std::optional<Overwrite> firstOverwrite_;
};

}  // namespace vel
