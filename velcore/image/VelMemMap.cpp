#include "image/VelMemMap.h"

#include <algorithm>

#include "image/HexText.h"

namespace vel {

namespace {

constexpr std::uint16_t kTopAddressLimit = 0xFC00;

// The two leading bytes of an address record's data, or false when they are not hexadecimal.
bool ReadAddressBytes(std::string_view data, int* first, int* second) {
  if (data.size() < 4) return false;
  int digits[4];
  for (int i = 0; i < 4; ++i) {
    digits[i] = HexDigitValue(data[i]);
    if (digits[i] < 0) return false;
  }
  *first = digits[0] * 16 + digits[1];
  *second = digits[2] * 16 + digits[3];
  return true;
}

// The value of each character as a hexadecimal digit, or -1.
constexpr std::array<std::int8_t, 256> kDigitValues = [] {
  std::array<std::int8_t, 256> values{};
  for (int c = 0; c < 256; ++c)
    values[c] = static_cast<std::int8_t>(HexDigitValue(static_cast<char>(c)));
  return values;
}();

int DigitValue(char c) { return kDigitValues[static_cast<unsigned char>(c)]; }

// A data piece of one or two characters as "%x" reads it: its leading hexadecimal digits. A piece
// with none stores the erased value, so a damaged record never places an arbitrary byte.
std::uint8_t PieceValue(const char* piece, std::size_t length) {
  const int high = DigitValue(piece[0]);
  if (high < 0) return kErased;
  const int low = length > 1 ? DigitValue(piece[1]) : -1;
  return static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low);
}

}  // namespace

VelMemMap::VelMemMap(const VelHexFile* chain, bool topSegmentStartsHigh, ProgressSink* progress)
    : topSegment_(topSegmentStartsHigh ? 255 : 0) {
  Filling filling;
  for (const VelHexFile* node = chain; node != nullptr; node = node->GetNext()) {
    if (progress != nullptr) progress->SetStatus({});
    const VelHexRec& record = node->GetRecord();
    int first = 0, second = 0;
    switch (record.Type()) {
      case kExtSegmentAddressRecord:
        if (ReadAddressBytes(record.Data(), &first, &second)) {
          currentSegment_ = static_cast<std::uint8_t>(first >> 4);
          if (topSegment_ < currentSegment_) {
            topSegment_ = currentSegment_;
            topAddress_ = 0;
          }
        }
        break;
      case kExtLinearAddressRecord:
        if (ReadAddressBytes(record.Data(), &first, &second)) {
          currentSegment_ = static_cast<std::uint8_t>(second);
        }
        break;
      case kDataRecord:
        Place(*node, filling);
        break;
      default:
        break;
    }
  }
  std::copy(filling.begin(), filling.end(), segments_.begin());
}

void VelMemMap::Place(const VelHexFile& node, Filling& filling) {
  const VelHexRec& record = node.GetRecord();
  auto& segment = filling[currentSegment_];
  if (!segment) segment = std::make_shared<VelSegment>();
  const std::string_view data = record.Data();
  std::uint16_t offset = record.Address();
  const std::size_t bytes = (data.size() + 1) / 2;
  for (std::size_t i = 0; i < data.size(); i += 2) {
    const std::uint8_t value =
        PieceValue(data.data() + i, std::min<std::size_t>(2, data.size() - i));
    if (segment->filled[offset] && segment->bytes[offset] != value && !firstOverwrite_) {
      firstOverwrite_ = Overwrite{node.RecordNumber(), node.Line(), currentSegment_, offset};
    }
    segment->filled[offset] = true;
    segment->bytes[offset] = value;
    ++offset;  // wraps within the segment
  }
  // The records the bytes fell into, wrapping like the bytes.
  for (std::size_t at = record.Address(); at < record.Address() + bytes;
       at = (at / kRecordBytes + 1) * kRecordBytes) {
    segment->dataRecords.set((at % kSegmentSize) / kRecordBytes);
  }
  const std::uint16_t address = record.Address();
  if (currentSegment_ == topSegment_ && address < kTopAddressLimit && topAddress_ < address) {
    topAddress_ = address;
  }
}

const std::uint8_t* VelMemMap::GetPage(std::uint8_t segment, std::uint8_t page) const {
  const auto& seg = segments_[segment];
  return seg ? seg->bytes.data() + page * kPageSize : nullptr;
}

bool VelMemMap::Write(std::uint8_t segment, std::size_t offset, const std::uint8_t* bytes,
                      std::size_t count) {
  auto& seg = segments_[segment];
  if (!seg || offset + count > kSegmentSize) return false;
  // Other copies of the map may read this segment: the change goes into a copy of it.
  auto changed = std::make_shared<VelSegment>(*seg);
  std::copy(bytes, bytes + count, changed->bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  seg = std::move(changed);
  return true;
}

std::uint8_t VelMemMap::FirstSegment() const {
  for (int s = 0; s < 256; ++s) {
    if (segments_[s]) return static_cast<std::uint8_t>(s);
  }
  return 255;
}

void VelMemMap::MakeRecordPacket(std::uint8_t segment, int block, int page, int record,
                                 std::uint8_t* packet, PacketOptions options) const {
  const auto& seg = segments_[segment];
  if (!seg) {
    packet[3] = 0xFF;
    return;
  }
  int high;
  if (options.blocks128) {
    high = block >> 1;
  } else if (options.pageOnlyAddress) {
    high = page;
  } else if (options.blockRelativeFourPage) {
    high = page + 4 * block;
  } else {
    high = page + 64 * block;
  }
  const int low = options.blocks128 ? 16 * record + 128 * block : 16 * record;
  std::size_t offset;
  if (options.blocks128) {
    offset = 128u * block + 16u * record;
  } else if (options.fourPageBlocks || options.blockRelativeFourPage) {
    offset = (4u * block + page) * 256u + 16u * record;
  } else {
    offset = (64u * block + page) * 256u + 16u * record;
  }
  offset %= kSegmentSize;  // callers keep within the segment; never read past it
  packet[0] = 0x10;
  packet[1] = static_cast<std::uint8_t>(high);
  packet[2] = static_cast<std::uint8_t>(low);
  packet[3] = 0x00;
  unsigned sum = packet[0] + packet[1] + packet[2];
  for (int i = 0; i < 16; ++i) {
    packet[4 + i] = seg->bytes[(offset + i) % kSegmentSize];
    sum += packet[4 + i];
  }
  packet[20] = static_cast<std::uint8_t>(0u - sum);
}

}  // namespace vel
