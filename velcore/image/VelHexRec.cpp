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

// Converts exactly 2n characters at text[at], upper-cased first, as the record reader does.
std::uint32_t HexField(std::string_view text, std::size_t at, int bytes) {
  char digits[8];
  const int count = 2 * bytes;
  for (int i = 0; i < count; ++i) digits[i] = ToUpperAscii(text[at + i]);
  return HexToValue(std::string_view(digits, static_cast<std::size_t>(count)));
}

}  // namespace

VelHexRec::VelHexRec() { checksum_ = ComputeChecksum(); }

VelHexRec::VelHexRec(std::uint16_t address, std::string_view data)
    : address_(address),
      byteCount_(static_cast<std::uint8_t>(data.size() / 2)),
      recordType_(kDataRecord) {
  Own(UpperCased(data));
  checksum_ = ComputeChecksum();
}

VelHexRec::VelHexRec(std::uint8_t byteCount, std::uint16_t address, std::string_view data,
                     std::uint8_t checksum)
    : checksum_(checksum), address_(address), byteCount_(byteCount), recordType_(kDataRecord) {
  Own(UpperCased(data));
}

VelHexRec::VelHexRec(const VelHexRec& other) { *this = other; }

VelHexRec& VelHexRec::operator=(const VelHexRec& other) {
  if (this == &other) return *this;
  checksum_ = other.checksum_;
  address_ = other.address_;
  byteCount_ = other.byteCount_;
  recordType_ = other.recordType_;
  if (other.owned_) {
    Own(other.data_);
  } else {
    owned_.reset();
    data_ = other.data_;
  }
  return *this;
}

VelHexRec::VelHexRec(VelHexRec&& other) noexcept { *this = std::move(other); }

VelHexRec& VelHexRec::operator=(VelHexRec&& other) noexcept {
  if (this == &other) return *this;
  checksum_ = other.checksum_;
  address_ = other.address_;
  byteCount_ = other.byteCount_;
  recordType_ = other.recordType_;
  owned_ = std::move(other.owned_);  // the string itself stays where it is
  data_ = other.data_;
  other.data_ = {};
  return *this;
}

void VelHexRec::Own(std::string_view data) {
  owned_ = std::make_unique<std::string>(data);
  data_ = *owned_;
}

VelHexRec VelHexRec::AddressRecord(std::uint8_t type, std::uint16_t value) {
  VelHexRec rec;
  rec.recordType_ = type > 1 ? type : std::uint8_t{kExtLinearAddressRecord};
  rec.byteCount_ = 2;
  rec.address_ = 0;
  char digits[5];
  std::snprintf(digits, sizeof digits, "%04X", value);
  rec.Own(digits);
  rec.checksum_ = rec.ComputeChecksum();
  return rec;
}

bool VelHexRec::ReadInPlace(std::string_view text, std::size_t* pos, std::size_t* colon) {
  const std::size_t at = text.find(':', *pos);
  if (at == std::string_view::npos) {
    *pos = text.size();
    return false;
  }
  if (colon != nullptr) *colon = at;
  // Count, address and type: eight characters after the ':'.
  std::size_t p = at + 1;
  if (text.size() - p < 8) {
    *pos = text.size();
    return false;
  }
  byteCount_ = static_cast<std::uint8_t>(HexField(text, p, 1));
  address_ = static_cast<std::uint16_t>(HexField(text, p + 2, 2));
  recordType_ = static_cast<std::uint8_t>(HexField(text, p + 6, 1));
  p += 8;
  const std::size_t chars = 2u * byteCount_;
  if (text.size() - p < chars + 2) {
    *pos = text.size();
    return false;
  }
  owned_.reset();
  data_ = text.substr(p, chars);
  checksum_ = static_cast<std::uint8_t>(HexField(text, p + chars, 1));
  *pos = p + chars + 2;
  return true;
}

bool VelHexRec::Read(std::string_view text, std::size_t* pos, std::size_t* colon) {
  if (!ReadInPlace(text, pos, colon)) return false;
  Own(data_);
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
