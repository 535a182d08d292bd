#pragma once

#include <array>
#include <cstdint>

namespace vel::protocol {

// Bytes of the identification exchange and the block transfer.
constexpr std::uint8_t kMultiUnitProtocol = 0x1D;
constexpr std::uint8_t kSingleUnitProtocol = 0x1B;
constexpr std::uint8_t kRestart = 0x1C;
constexpr std::uint8_t kAck = 0xFA;
constexpr std::uint8_t kBusy = 0xFB;  // also the answer of an information-only run
constexpr std::uint8_t kDecline = 0xFC;
constexpr std::uint8_t kUpdateAgain = 0xFD;
constexpr std::uint8_t kAskAgain = 0xFE;
constexpr std::uint8_t kBlockProgrammed = 0xF4;
constexpr std::uint8_t kEraseError = 0xF6;
constexpr std::uint8_t kProgrammingError = 0xF7;
constexpr std::uint8_t kBlockCheckError = 0xF8;
constexpr std::uint8_t kReplyMultiUnit = 0xC2;
constexpr std::uint8_t kReplySerialOnly = 0xCA;

// 0xC3 to 0xC9 but 0xC6: a single-unit device.
constexpr bool IsSingleUnitReply(std::uint8_t r) { return r >= 0xC3 && r <= 0xC9 && r != 0xC6; }
constexpr bool IsBlockResult(std::uint8_t r) {
  return r == kBlockProgrammed || r == kEraseError || r == kProgrammingError ||
         r == kBlockCheckError;
}

// The hub's start byte: ten in a row put it into its loader.
constexpr std::uint8_t kHubStartByte = 0xBB;
constexpr int kHubStartBytes = 10;

// The unit-select frame's first byte and its mode bytes (byte 10).
constexpr std::uint8_t kUnitSelectStart = 0xE7;
constexpr std::uint8_t kSelectForUpdate = 0x30;
constexpr std::uint8_t kSelectLoader = 0x31;       // the loader unit of an NB file
constexpr std::uint8_t kSelectAfterLoader = 0x32;  // the next unit once the loader's image is in

// The loader's reply between its two phases: this many bytes, each the same.
constexpr int kLoaderReplySize = 27;
constexpr std::uint8_t kLoaderReplyByte = 0x55;

// The record type (byte 3) of a frame.
constexpr std::uint8_t kRecordData = 0x00;
constexpr std::uint8_t kRecordEnd = 0x01;
constexpr std::uint8_t kRecordAddress = 0x04;
constexpr std::uint8_t kRecordRun = 0x05;
constexpr std::uint8_t kRecordChecksum = 0x06;

constexpr std::size_t kRecordFrameSize = 21;
constexpr std::size_t kBlockIdFrameSize = 7;
constexpr std::size_t kUnitSelectFrameSize = 12;
constexpr std::array<std::uint8_t, 5> kEndOfBlockFrame = {0x00, 0x00, 0x00, 0x01, 0xFF};
constexpr std::array<std::uint8_t, 5> kRunFrame = {0x00, 0x00, 0x00, 0x05, 0xFB};

// Two's complement of the 8-bit sum of `count` bytes.
constexpr std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t count) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(0u - sum);
}

// Block-ID frame naming a page range: first page, 0x00, type 04, last page, 0xFF.
constexpr std::array<std::uint8_t, kBlockIdFrameSize> PageRangeBlockId(int firstPage,
                                                                       int lastPage) {
  std::array<std::uint8_t, kBlockIdFrameSize> f = {0x02, static_cast<std::uint8_t>(firstPage), 0x00,
                                                   0x04, static_cast<std::uint8_t>(lastPage),  0xFF,
                                                   0x00};
  f[6] = FrameChecksum(f.data(), 6);
  return f;
}

// Block-ID frame naming a segment (an extended linear address record).
constexpr std::array<std::uint8_t, kBlockIdFrameSize> SegmentBlockId(int segment) {
  std::array<std::uint8_t, kBlockIdFrameSize> f = {
      0x02, 0x00, 0x00, 0x04, 0x00, static_cast<std::uint8_t>(segment), 0x00};
  f[6] = FrameChecksum(f.data(), 6);
  return f;
}

// The unit-select frame: the first five serial bytes, the unit kind code and a mode byte.
inline std::array<std::uint8_t, kUnitSelectFrameSize> UnitSelectFrame(const std::uint8_t* serial,
                                                                      std::uint8_t kindCode,
                                                                      std::uint8_t mode) {
  std::array<std::uint8_t, kUnitSelectFrameSize> f = {kUnitSelectStart, 0x0C, 0x35, 0x0D};
  for (int i = 0; i < 5; ++i) f[4 + i] = serial[i];
  f[9] = kindCode;
  f[10] = mode;
  f[11] = FrameChecksum(f.data() + 2, 9);
  return f;
}

// The checksum frame carrying a 16-bit data sum.
constexpr std::array<std::uint8_t, 5> ChecksumFrame(std::uint16_t sum) {
  std::array<std::uint8_t, 5> f = {0x00, static_cast<std::uint8_t>(sum >> 8),
                                   static_cast<std::uint8_t>(sum & 0xFF), 0x06, 0x00};
  f[4] = FrameChecksum(f.data(), 4);
  return f;
}

}  // namespace vel::protocol
