#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vel {

enum RecordType : std::uint8_t {
  kDataRecord = 0x00,
  kEndOfFileRecord = 0x01,
  kExtSegmentAddressRecord = 0x02,
  kStartSegmentAddressRecord = 0x03,
  kExtLinearAddressRecord = 0x04,
  kStartLinearAddressRecord = 0x05,
};

// One Intel HEX record. The data stay text, in the case in which they were read; they become
// bytes only where they are used.
class VelHexRec {
 public:
  // An end-of-file record (":00000001FF").
  VelHexRec();
  // A data record; the count follows the text, the checksum is computed.
  VelHexRec(std::uint16_t address, std::string_view data);
  // A data record whose checksum is taken as given.
  VelHexRec(std::uint8_t byteCount, std::uint16_t address, std::string_view data,
            std::uint8_t checksum);
  // An extended address record: type 02 or 04 (types 0 and 1 give 04) carrying value.
  static VelHexRec AddressRecord(std::uint8_t type, std::uint16_t value);

  VelHexRec(const VelHexRec& other);
  VelHexRec& operator=(const VelHexRec& other);
  VelHexRec(VelHexRec&& other) noexcept;
  VelHexRec& operator=(VelHexRec&& other) noexcept;
  ~VelHexRec() = default;

  // Reads one record from `text` at *pos, skipping everything before its ':'; up to 255 data
  // bytes. *pos moves past the record, *colon (when given) gets the position of its ':'. False
  // when the text ends before the record is complete. The record keeps a copy of its data text.
  bool Read(std::string_view text, std::size_t* pos, std::size_t* colon = nullptr);
  // The same, but the data text stays in `text`, which must outlive the record (a loaded file
  // keeps its text for its records).
  bool ReadInPlace(std::string_view text, std::size_t* pos, std::size_t* colon = nullptr);

  std::uint8_t ComputeChecksum() const;
  bool IsChecksumValid() const { return checksum_ == ComputeChecksum(); }
  // ":%02x%04x%02x%s%02x\n": numeric fields in lower case, data as held.
  std::string FormatLine() const;

  std::uint8_t Checksum() const { return checksum_; }
  std::uint16_t Address() const { return address_; }
  std::uint8_t ByteCount() const { return byteCount_; }
  std::uint8_t Type() const { return recordType_; }
  std::string_view Data() const { return data_; }

 private:
  void Own(std::string_view data);

  std::uint8_t checksum_ = 0;
  std::uint16_t address_ = 0;
  std::uint8_t byteCount_ = 0;
  std::uint8_t recordType_ = kEndOfFileRecord;
  std::string_view data_;  // into owned_, or into the text the record was read from in place
  std::unique_ptr<std::string> owned_;  // only records made in memory or read as copies
};

}  // namespace vel
