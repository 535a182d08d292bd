#include "image/VelHexRec.h"

#include <cstdio>

#include "image/HexText.h"

namespace vel {

namespace {

std::string UpperCased(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToUpperAscii(c);
  return out;
}

// Reads exactly 2n characters, upper-cases them and converts them; false at the stream's end.
bool ReadHexField(ByteStream& in, int bytes, std::uint32_t* value) {
  char digits[8];
  const int count = 2 * bytes;
  for (int i = 0; i < count; ++i) {
    const int c = in.ReadChar();
    if (c < 0) return false;
    digits[i] = ToUpperAscii(static_cast<char>(c));
  }
  *value = HexToValue(std::string_view(digits, static_cast<std::size_t>(count)));
  return true;
}

}  // namespace

VelHexRec::VelHexRec() { checksum_ = ComputeChecksum(); }

VelHexRec::VelHexRec(std::uint16_t address, std::string_view data)
    : address_(address),
      byteCount_(static_cast<std::uint8_t>(data.size() / 2)),
      recordType_(kDataRecord),
      data_(UpperCased(data)) {
  checksum_ = ComputeChecksum();
}

VelHexRec::VelHexRec(std::uint8_t byteCount, std::uint16_t address, std::string_view data,
                     std::uint8_t checksum)
    : checksum_(checksum),
      address_(address),
      byteCount_(byteCount),
      recordType_(kDataRecord),
      data_(UpperCased(data)) {}

VelHexRec VelHexRec::AddressRecord(std::uint8_t type, std::uint16_t value) {
  VelHexRec rec;
  rec.recordType_ = type > 1 ? type : std::uint8_t{kExtLinearAddressRecord};
  rec.byteCount_ = 2;
  rec.address_ = 0;
  char digits[5];
  std::snprintf(digits, sizeof digits, "%04X", value);
  rec.data_ = digits;
  rec.checksum_ = rec.ComputeChecksum();
  return rec;
}

bool VelHexRec::Serialize(ByteStream& in, std::int64_t* colonLine) {
  for (;;) {
    const int c = in.ReadChar();
    if (c < 0) return false;
    if (c == ':') break;
  }
  if (colonLine != nullptr) *colonLine = in.Line();
  std::uint32_t count = 0, address = 0, type = 0, checksum = 0;
  if (!ReadHexField(in, 1, &count) || !ReadHexField(in, 2, &address) || !ReadHexField(in, 1, &type))
    return false;
  byteCount_ = static_cast<std::uint8_t>(count);
  address_ = static_cast<std::uint16_t>(address);
  recordType_ = static_cast<std::uint8_t>(type);
  const std::size_t chars = 2u * byteCount_;
  data_.resize(chars);
  for (std::size_t i = 0; i < chars; ++i) {
    const int c = in.ReadChar();
    if (c < 0) return false;
    data_[i] = static_cast<char>(c);
  }
  if (!ReadHexField(in, 1, &checksum)) return false;
  checksum_ = static_cast<std::uint8_t>(checksum);
  return true;
}

std::uint8_t VelHexRec::ComputeChecksum() const {
  unsigned sum = byteCount_ + recordType_ + (address_ >> 8) + (address_ & 0xFF);
  const std::size_t pairs = data_.size() / 2;
  for (std::size_t i = 0; i < pairs; ++i) sum += DataPairValue(data_, i);
  return static_cast<std::uint8_t>(0u - sum);
}

std::string VelHexRec::FormatLine() const {
  char head[16];
  std::snprintf(head, sizeof head, ":%02x%04x%02x", byteCount_, address_, recordType_);
  char tail[8];
  std::snprintf(tail, sizeof tail, "%02x\n", checksum_);
  std::string line;
  line.reserve(12 + data_.size());
  line.append(head).append(data_).append(tail);
  return line;
}

}  // namespace vel
